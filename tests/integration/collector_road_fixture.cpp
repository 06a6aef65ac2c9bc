#include "collector_road_fixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QUuid>

void collector_road_test::SetUp()
{
    GORVEX_NEED_BROKER();
    unique = QUuid::createUuid().toString(QUuid::WithoutBraces).left(12);
    exchange = "nelqa.api." + unique;
    gateway_queue = "gw." + unique;
    iec104_key = "iec104." + unique;
    spodes_key = "spodes." + unique;
    qobi_key = "qobi." + unique;
    probe = std::make_unique<broker_probe>("/api");
    ASSERT_TRUE(probe->ok());
    // The gateway's publisher does not declare its exchange, and its queue cannot be bound
    // to one that does not exist.
    ASSERT_TRUE(probe->declare_exchange(exchange));
}

void collector_road_test::TearDown()
{
    gateway_fixture::TearDown();
    if (gateway)
        gateway->stop();
    if (probe && probe->ok())
        probe->delete_exchange(exchange);
}

QMap<QString, QString> collector_road_test::collector_ini() const
{
    QMap<QString, QString> ini = default_ini();
    ini["GENERAL_SETTINGS/GATEWEBFACE"] = "ENABLE";
    ini["GENERAL_SETTINGS/FORWARD_TORNEL_APPSANDBOX"] = "DISABLE";
    ini["GENERAL_SETTINGS/RAM_USER_DB_SERVICE"] = "ENABLE";
    ini["GENERAL_SETTINGS/R_IEC104_ROUTE_KEY"] = iec104_key;
    ini["GENERAL_SETTINGS/R_SPODES_TO_TORNEL_ROUTE_KEY"] = spodes_key;
    ini["GENERAL_SETTINGS/R_QOBI_SENDER_ROUTE_KEY"] = qobi_key;
    ini["AMQP_API_SETTINGS/R_LOGIN"] = test_services::amqp_url();
    ini["AMQP_API_SETTINGS/R_VHOST"] = "/api";
    ini["AMQP_API_SETTINGS/R_EXCHANGE"] = exchange;
    ini["AMQP_API_SETTINGS/R_QUEUE"] = gateway_queue;
    ini["AMQP_API_SETTINGS/R_BINDINGS"] = exchange + ":" + gateway_queue;
    return ini;
}

void collector_road_test::start_collector(
    const QMap<QString, QString>& ini, const QMap<QString, QString>& env)
{
    QMap<QString, QString> all = collector_ini();
    for (auto it = ini.begin(); it != ini.end(); ++it)
        all[it.key()] = it.value();
    gateway = std::make_unique<gateway_process>(all, env);
    ASSERT_TRUE(gateway->start()) << gateway->output().constData();
}

int collector_road_test::log_count(const QByteArray& needle)
{
    return gateway->output().count(needle);
}

bool collector_road_test::wait_links_up(int links, int since)
{
    const QByteArray bound = " Rabbit_man_ul: Queue bound";
    const QByteArray published = "rabbit_publisher_impl: Connected";
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 20000 && gateway->running()) {
        // Reading the output waits briefly for more.
        if (log_count(bound) >= since + links && log_count(published) >= since + links)
            return true;
    }
    return false;
}

std::unique_ptr<fake_backend_process> collector_road_test::start_backend(
    const QString& name, const QStringList& keys, const QJsonObject& script)
{
    const QString script_path = files.filePath(name + ".script.json");
    QFile file(script_path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(QJsonDocument(script).toJson(QJsonDocument::Compact));
    file.close();
    QStringList args { "--url", test_services::amqp_url(), "--vhost", "/api", "--exchange",
        exchange, "--queue", "fb." + name + "." + unique, "--script", script_path, "--record",
        record_path(name) };
    for (const QString& key : keys)
        args << "--bind" << key;
    return std::make_unique<fake_backend_process>(args);
}

QString collector_road_test::record_path(const QString& name) const
{
    return files.filePath(name + ".record.jsonl");
}

QList<QByteArray> collector_road_test::recorded(const QString& name) const
{
    QFile file(record_path(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    lines.removeAll(QByteArray());
    return lines;
}

QByteArray collector_road_test::service_token()
{
    const QJsonObject everything { { "admin", "" } };
    return token(payload("2.0", "user@x",
        QJsonObject { { "iec104", everything }, { "spodes_to_tornel", everything },
            { "qobi_sender", everything } }));
}

QByteArray collector_road_test::request_bytes(
    const QByteArray& method, const QByteArray& target, const QByteArray& body) const
{
    return request_bytes_as(service_token(), method, target, body);
}

QByteArray collector_road_test::request_bytes_as(const QByteArray& token, const QByteArray& method,
    const QByteArray& target, const QByteArray& body)
{
    QByteArray bytes = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
        + "Authorization: Bearer " + token + "\r\n";
    if (!body.isEmpty() || method == "POST" || method == "DELETE")
        bytes += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    return bytes + "\r\n" + body;
}

raw_response collector_road_test::call(
    const QByteArray& method, const QByteArray& target, const QByteArray& body, int wait_ms)
{
    return call_as(service_token(), method, target, body, wait_ms);
}

raw_response collector_road_test::call_as(const QByteArray& token, const QByteArray& method,
    const QByteArray& target, const QByteArray& body, int wait_ms)
{
    raw_http client(gateway->port());
    client.send(request_bytes_as(token, method, target, body));
    raw_response answer;
    client.read(answer, wait_ms, method == "HEAD");
    return answer;
}
