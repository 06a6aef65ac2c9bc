#include "app/static_tables.h"

// Defined in one unit so that they are made in this order.

const QMap<QString, QString> obis_to_tornel_table = {
    { QStringLiteral("1.0.94.7.0.255"), QStringLiteral("tornel.data_instant") },
    { QStringLiteral("1.0.94.7.5.255"), QStringLiteral("tornel.data_setup") },
    { QStringLiteral("1.0.94.7.8.255"), QStringLiteral("tornel.data_year") },
    { QStringLiteral("1.0.98.1.0.255"), QStringLiteral("tornel.data_month") },
    { QStringLiteral("1.0.98.2.0.255"), QStringLiteral("tornel.data_day") },
    { QStringLiteral("1.0.99.1.0.255"), QStringLiteral("tornel.data_profile") },
};

const QStringList event_journal_obis = {
    QStringLiteral("0.0.99.98.0.255"),
    QStringLiteral("0.0.99.98.1.255"),
    QStringLiteral("0.0.99.98.2.255"),
    QStringLiteral("0.0.99.98.3.255"),
    QStringLiteral("0.0.99.98.4.255"),
    QStringLiteral("0.0.99.98.5.255"),
    QStringLiteral("0.0.99.98.6.255"),
    QStringLiteral("0.0.99.98.7.255"),
    QStringLiteral("0.0.99.98.8.255"),
    QStringLiteral("0.0.99.98.9.255"),
    QStringLiteral("0.0.99.98.10.255"),
};

const QString utc_time_format = QStringLiteral("yyyy.MM.dd hh:mm:ss.zzz UTC");

const QString spodes_to_tornel_prefix = QStringLiteral("/spodes_to_tornel/");

const QString app_version = QStringLiteral("1.4.3-54");

// Fixed rather than __DATE__ so that a rebuild of this release reports the same text.
const QString app_build_date = QStringLiteral("Aug 30 2024");
