#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

// Constants shared by several handlers; made before main runs and never changed.

// OBIS code of each meter-data table of the meter driver -> the table's name in the driver service.
extern const QMap<QString, QString> obis_to_tornel_table;
// Entry N is the OBIS code of the meter's event journal of event type N (0 to 10).
extern const QStringList event_journal_obis;
// QDateTime format of the times shown by the per-user statistics view (given UTC times).
extern const QString utc_time_format;
// Common path prefix of the SPODES converter's routes.
extern const QString spodes_to_tornel_prefix;
extern const QString app_version;
extern const QString app_build_date;
