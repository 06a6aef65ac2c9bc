#include "gateway_fixture.h"
#include "support/test_services.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QThread>

namespace {

QByteArray run_binary(const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(GORVEX_BINARY, args);
    p.waitForFinished(10000);
    return p.readAll();
}

TEST(gorvex_command_line, version_and_help)
{
    EXPECT_TRUE(run_binary({ "--version" }).contains("1.4.3-54"));
    const QByteArray help = run_binary({ "--help" });
    EXPECT_TRUE(help.contains("-c <config>"));
    EXPECT_TRUE(help.contains("Config file (gorvex.ini by default)"));
}

TEST_F(gateway_fixture, a_taken_port_is_reported_and_the_process_stays_up)
{
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::LocalHost, 0));
    QMap<QString, QString> ini = default_ini();
    ini["QHTTP_SETTINGS/PORT"] = QString::number(holder.serverPort());
    gateway_process process(ini);
    ASSERT_TRUE(process.start_no_wait());
    const QByteArray needle = QStringLiteral(": HTTP listen on 127.0.0.1:%1 failed: ")
                                  .arg(holder.serverPort())
                                  .toUtf8();
    EXPECT_TRUE(process.wait_for_output(needle)) << process.output().constData();
    EXPECT_TRUE(process.output().contains("Error " + needle));
    EXPECT_TRUE(process.running());
}

// The ini path names a directory: the file is there but cannot be read, so the defaults apply
// and the log, at its default path, says so.
TEST_F(gateway_fixture, an_unreadable_ini_file_is_reported)
{
    QMap<QString, QString> ini = default_ini();
    gateway_process process(ini);
    QFile::remove(process.ini_path());
    ASSERT_TRUE(QDir().mkdir(process.ini_path()));
    ASSERT_TRUE(process.start_no_wait());
    const QString log_path = QDir(process.dir()).filePath("lumrat.log");
    QElapsedTimer waited;
    waited.start();
    QByteArray log;
    while (waited.elapsed() < 10000 && !log.contains("cannot be read")) {
        QThread::msleep(50);
        QFile file(log_path);
        if (file.open(QIODevice::ReadOnly))
            log = file.readAll();
    }
    EXPECT_TRUE(log.contains(" Error : Config file " + process.ini_path().toUtf8()
        + " cannot be read; the defaults are used"))
        << log.constData();
    EXPECT_TRUE(process.running());
}

TEST_F(gateway_fixture, an_ini_edit_switches_the_handler_set_for_the_next_request)
{
    start_gateway();
    const auto user = bearer(token(payload()));
    struct row
    {
        const char* behaviour;
        const char* gatewebface;
        const char* forward;
        const char* path;
        int status;
    };
    const row rows[] = {
        { "gateway set: the login forward", "ENABLE", "ENABLE", "/auth/x", 200 },
        { "server set: no login forward", "DISABLE", "ENABLE", "/auth/x", 404 },
        { "server set: the new login forward", "DISABLE", "ENABLE", "/new_auth/x", 200 },
        { "collector set: sessions", "ENABLE", "DISABLE", "/sessions/x", 200 },
        { "collector set: no login forward", "ENABLE", "DISABLE", "/auth/x", 404 },
        { "back to the gateway set", "ENABLE", "ENABLE", "/new_auth/x", 404 },
    };
    for (const row& r : rows) {
        gateway->set_ini("GENERAL_SETTINGS/GATEWEBFACE", r.gatewebface);
        gateway->set_ini("GENERAL_SETTINGS/FORWARD_TORNEL_APPSANDBOX", r.forward);
        EXPECT_EQ(get(r.path, { user }).status, r.status) << r.behaviour;
    }
}

// With RAM_USER_DB_SERVICE unset the access store is Redis; start-up does not need it to
// answer.
TEST_F(gateway_fixture, starts_with_the_redis_store)
{
    GORVEX_NEED_REDIS();
    QMap<QString, QString> ini;
    ini["GENERAL_SETTINGS/RAM_USER_DB_SERVICE"] = "";
    ini["REDIS_SETTINGS/HOST"] = "127.0.0.1";
    ini["REDIS_SETTINGS/PORT"] = QString::number(test_services::redis_port());
    ini["GENERAL_SETTINGS/GATEWEBFACE"] = "DISABLE";
    start_gateway(ini);
    const QJsonObject rights { { "appsandbox", QJsonObject { { "access_bs", "" } } } };
    const raw_response answer
        = get("/api/access/bs", { bearer(token(payload("2.0", "user@x", rights))) });
    EXPECT_EQ(answer.status, 404);
    EXPECT_EQ(answer.body, R"({"What":""})");
}

} // namespace
