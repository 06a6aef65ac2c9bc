#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

// The two constant tables of the driver's reports (made once, before the first request).

// OBIS code of a meter profile -> the driver's table that stores it, in code order (the order
// the tables are asked for).
const QMap<QString, QString>& tornel_profile_tables();
// The profile code of a driver table; null for a name that is none of the tables.
QString tornel_profile_of_table(const QString& table);

// The OBIS codes of the meters' eleven event journals; the journal number is the position.
const QStringList& tornel_event_journals();
// The journal code of an event's "type"; "unknown type" outside 0 to 10.
QString tornel_journal_of(int type);
