#include "driver_road_fixture.h"
#include "server_road_fixture.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>

// JSON whose objects repeat a key, the dropped value an array or an object, through every way
// such text reaches the gateway: a caller's query, a command value, a token, a back-end's reply
// and the collector's file. The member read is the one kept of each repeated key; the sanitizer
// build's leak check at the gateway's exit sees any value the parsing loses on the way.

namespace {

QJsonObject object_of(const QByteArray& json)
{
    return QJsonDocument::fromJson(json).object();
}

QByteArray encoded(const QByteArray& text)
{
    return QUrl::toPercentEncoding(QString::fromUtf8(text));
}

TEST_F(driver_road_test, repeated_keys_in_a_command_value_a_reply_and_the_collector_file)
{
    const QString db_id = "db-" + unique;
    start_driver({ { "send_dl_msg",
                       QJsonArray { QJsonObject { { "body",
                           R"({"cmd_id":"{{cmd_id}}","data":[0],"data":{"5":[1],"5":{"bd_id":")"
                               + db_id + R"("}},"msg_type":"response"})" } } } },
        { "get_info",
            QJsonArray { QJsonObject { { "data",
                QJsonObject { { "drv", QJsonObject { { "build timestamp", 7 } } } } } } } } });
    if (HasFatalFailure())
        return;

    const raw_response sent = call("GET",
        "/driver_tornel/api/cmd/send?modem=5&code=1&value="
            + encoded(R"({"a":[1],"a":[2],"b":{},"b":{"c":3}})"));
    ASSERT_EQ(sent.status, 200) << sent.body.constData();
    const int index = object_of(sent.body).value("cmd_id").toObject().value("5").toInt();
    EXPECT_GT(index, 0) << sent.body.constData();
    EXPECT_EQ(dl_map_field("tornel_dl:index", QByteArray::number(index)), db_id.toUtf8());
    const QJsonObject command = object_of(recorded("driver").last()).value("data").toObject();
    EXPECT_EQ(command.value("data").toObject().value("data"),
        QJsonObject({ { "a", QJsonArray { 2 } }, { "b", QJsonObject { { "c", 3 } } } }));

    QFile file(gateway->dir() + "/uspd_info.json");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({"SW":{"version":"1"},"SW":{"version":"3.1"},"time":[0],"time":{"zone":5}})");
    file.close();
    const raw_response info = get("/driver_tornel/api/info");
    ASSERT_EQ(info.status, 200) << info.body.constData();
    const QJsonObject answer = object_of(info.body);
    EXPECT_EQ(answer.value("SW").toObject(), QJsonObject({ { "version", "3.1" } }));
    EXPECT_EQ(answer.value("time").toObject().value("zone").toInt(), 5);
    EXPECT_EQ(answer.value("build_ts").toInt(), 7);
}

using repeated_key_server_test = server_road_test;

TEST_F(repeated_key_server_test, repeated_keys_in_a_query_item)
{
    const auto backend = start_backend(
        "t", { sersoft_key }, { { "*", QJsonArray { QJsonObject { { "data", 1 } } } } });
    ASSERT_TRUE(backend->ready());
    start_server(1);
    ASSERT_TRUE(wait_links_up()) << gateway->output().constData();

    const raw_response answer = call_as(telecom_token("u@x", false), "GET",
        "/telecom/api/clients?filter=" + encoded(R"({"a":[1],"a":{"b":2}})"));
    EXPECT_EQ(answer.status, 200) << answer.body.constData();
    const QJsonObject command = object_of(recorded("t").last());
    EXPECT_EQ(command.value("data").toObject().value("filter"),
        QJsonObject({ { "a", QJsonObject { { "b", 2 } } } }))
        << recorded("t").last().constData();
}

TEST_F(gateway_fixture, repeated_keys_in_a_token)
{
    start_gateway();
    const QByteArray payload = R"({"ver":"2.0","email":"user@x","exp":)"
        + QByteArray::number(tomorrow())
        + R"(,"apiKeys":["x"],"apiKeys":["key-1"],"claims":{"iec104":{"":"POST"}},)"
          R"("claims":{"iec104":{"":"GET"}}})";
    const raw_response answer = get("/iec104/api/x", { bearer(make_token(payload, sign_key)) });
    EXPECT_EQ(answer.status, 200) << answer.body.constData();
    EXPECT_EQ(answer.body, "target");
}

} // namespace
