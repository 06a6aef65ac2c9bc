#include "handlers/driver/tornel_tables.h"

#include "app/static_tables.h"

const QMap<QString, QString>& tornel_profile_tables()
{
    return obis_to_tornel_table;
}

QString tornel_profile_of_table(const QString& table)
{
    for (auto it = obis_to_tornel_table.cbegin(); it != obis_to_tornel_table.cend(); ++it) {
        if (it.value() == table)
            return it.key();
    }
    return QString();
}

const QStringList& tornel_event_journals()
{
    return event_journal_obis;
}

QString tornel_journal_of(int type)
{
    if (type < 0 || type >= event_journal_obis.size())
        return QStringLiteral("unknown type");
    return event_journal_obis.at(type);
}
