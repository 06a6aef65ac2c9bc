#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Where no downlink-index map is kept, a database id is its own downlink index.
inline int dl_index_from_db_id(const QString& db_id)
{
    return db_id.toInt(nullptr, 10);
}

inline QString db_id_from_dl_index(int index)
{
    return QString::number(index);
}

inline QList<int> dl_indexes_from_db_ids(const QStringList& db_ids)
{
    QList<int> indexes;
    for (const QString& db_id : db_ids)
        indexes.append(dl_index_from_db_id(db_id));
    return indexes;
}

inline QStringList db_ids_from_dl_indexes(const QList<int>& indexes)
{
    QStringList db_ids;
    for (int index : indexes)
        db_ids.append(db_id_from_dl_index(index));
    return db_ids;
}
