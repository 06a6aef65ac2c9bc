#include "server_road_fixture.h"

#include <QJsonArray>

void server_road_test::SetUp()
{
    collector_road_test::SetUp();
    sersoft_key = "sersoft." + unique;
    uspd_key = "uspd." + unique;
}

void server_road_test::start_server(int instances, const QMap<QString, QString>& ini)
{
    QMap<QString, QString> all {
        { "GENERAL_SETTINGS/GATEWEBFACE", "DISABLE" },
        { "GENERAL_SETTINGS/R_SERSOFT_ROUTE_KEY", sersoft_key },
        { "GENERAL_SETTINGS/R_SERSOFT_USPD_ROUTE_KEY", uspd_key },
        { "GENERAL_SETTINGS/SERSOFT_INST_COUNT", QString::number(instances) },
    };
    for (auto it = ini.begin(); it != ini.end(); ++it)
        all[it.key()] = it.value();
    start_collector(all);
}

QByteArray server_road_test::telecom_token(
    const QString& email, bool admin, const QStringList& api_keys)
{
    QJsonObject p = payload("2.0", email,
        QJsonObject { { "telecom", QJsonObject { { "admin", "" } } },
            { "b", QJsonObject { { admin ? "admin" : "user", "" } } } });
    p["apiKeys"] = QJsonArray::fromStringList(api_keys);
    return token(p);
}
