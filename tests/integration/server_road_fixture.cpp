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

raw_response server_road_test::call_as(const QByteArray& token, const QByteArray& method,
    const QByteArray& target, const QByteArray& body)
{
    QByteArray bytes = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
        + "Authorization: Bearer " + token + "\r\n";
    if (!body.isEmpty() || method == "POST")
        bytes += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    raw_http client(gateway->port());
    client.send(bytes + "\r\n" + body);
    raw_response answer;
    client.read(answer, 15000);
    return answer;
}
