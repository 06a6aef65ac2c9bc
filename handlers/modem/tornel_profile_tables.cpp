#include "handlers/modem/tornel_profile_tables.h"

namespace {

const QMap<QString, QString> profile_tables {
    { QStringLiteral("1.0.94.7.0.255"), QStringLiteral("tornel.data_instant") },
    { QStringLiteral("1.0.94.7.5.255"), QStringLiteral("tornel.data_setup") },
    { QStringLiteral("1.0.94.7.8.255"), QStringLiteral("tornel.data_year") },
    { QStringLiteral("1.0.98.1.0.255"), QStringLiteral("tornel.data_month") },
    { QStringLiteral("1.0.98.2.0.255"), QStringLiteral("tornel.data_day") },
    { QStringLiteral("1.0.99.1.0.255"), QStringLiteral("tornel.data_profile") },
};

} // namespace

const QMap<QString, QString>& tornel_profile_tables()
{
    return profile_tables;
}

QString tornel_profile_of_table(const QString& table)
{
    for (auto it = profile_tables.cbegin(); it != profile_tables.cend(); ++it) {
        if (it.value() == table)
            return it.key();
    }
    return QString();
}
