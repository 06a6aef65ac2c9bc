#pragma once

#include <QMap>
#include <QString>

// OBIS code of a meter profile -> the driver's table that stores it, in code order (the order
// the tables are asked for). Built once, before the first request, and never changed.
const QMap<QString, QString>& tornel_profile_tables();

// The profile code of a driver table; null for a name that is none of the tables.
QString tornel_profile_of_table(const QString& table);
