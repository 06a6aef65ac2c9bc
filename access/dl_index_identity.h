#pragma once

#include <QString>

// Where no downlink-index map is kept, a database id is its own downlink index.
inline int dl_index_from_db_id(const QString& db_id)
{
    return db_id.toInt(nullptr, 10);
}

inline QString db_id_from_dl_index(int index)
{
    return QString::number(index);
}
