#include "modem_road_fixture.h"

#include <QJsonArray>

int modem_road_test::redis_cli(int port, const QStringList& args)
{
    QProcess cli;
    cli.setStandardOutputFile(QProcess::nullDevice());
    cli.setStandardErrorFile(QProcess::nullDevice());
    cli.start("redis-cli", QStringList { "-p", QString::number(port), "-n", "2" } + args);
    if (!cli.waitForFinished(10000))
        return -1;
    return cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
}

void modem_road_test::SetUp()
{
    GORVEX_NEED_REDIS();
    collector_road_test::SetUp();
    remote_key = "remote." + unique;
    api_key = "key-" + unique;
}

void modem_road_test::TearDown()
{
    if (test_services::redis_port() != 0)
        redis_cli(test_services::redis_port(), { "DEL", "client:devices:" + api_key });
    collector_road_test::TearDown();
}

void modem_road_test::start_modem_gateway(int instances, int redis_port)
{
    start_collector({ { "GENERAL_SETTINGS/RAM_USER_DB_SERVICE", "" },
        { "GENERAL_SETTINGS/CHECK_TOKEN_CLAIMS", "DISABLE" },
        { "GENERAL_SETTINGS/R_REMOTE_ROUTE_KEY", remote_key },
        { "GENERAL_SETTINGS/APP_INST_COUNT", QString::number(instances) },
        { "REDIS_SETTINGS/HOST", "127.0.0.1" },
        { "REDIS_SETTINGS/PORT",
            QString::number(redis_port ? redis_port : test_services::redis_port()) } });
}

void modem_road_test::seed(const QStringList& modems, int redis_port)
{
    ASSERT_EQ(redis_cli(redis_port ? redis_port : test_services::redis_port(),
                  QStringList { "SADD", "client:devices:" + api_key } + modems),
        0);
}

raw_response modem_road_test::ask(const QByteArray& method, const QByteArray& target, bool admin,
    const QByteArray& body, const QString& role)
{
    const QString named = !role.isEmpty() ? role : admin ? "admin" : "user";
    QJsonObject claims { { "b", QJsonObject { { named, "" } } } };
    QJsonObject p = payload("2.0", "user@x", claims);
    p["apiKeys"] = QJsonArray { api_key };
    const raw_response answer = call_as(token(p), method, target, body);
    gateway->output(); // drained, so that a long table never fills the pipe of the log
    return answer;
}
