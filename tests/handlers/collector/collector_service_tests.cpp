#include "routes/collector_set.h"
#include "routes/road_fixture.h"

#include <QJsonArray>
#include <typeinfo>

// The IEC 104, SPODES-to-Tornel and QOBI-sender endpoints of the collector, driven through the
// collector's real road with a scripted AMQP link.

namespace {

struct endpoint
{
    const char* path;
    bool serves_post;
    bool serves_delete;
};

const endpoint endpoints[] = {
    { "/iec104/api/version", false, false },
    { "/iec104/api/settings", true, false },
    { "/spodes_to_tornel/version", false, false },
    { "/spodes_to_tornel/meter_timeout", true, false },
    { "/spodes_to_tornel/relay_execute_status", false, false },
    { "/spodes_to_tornel/tasks", true, false },
    { "/spodes_to_tornel/gray_list_meters", true, true },
    { "/qobi_sender/api/version", false, false },
    { "/qobi_sender/api/uspd_meters", false, false },
};

class collector_service_test : public road_fixture
{
protected:
    void SetUp() override
    {
        conf.CHECK_TOKEN_VALID = false;
        conf.CHECK_TOKEN_EXP_TIME = false;
        conf.R_IEC104_ROUTE_KEY = "key.iec104";
        conf.R_SPODES_TO_TORNEL_ROUTE_KEY = "key.spodes";
        conf.R_QOBI_SENDER_ROUTE_KEY = "key.qobi";
        conf.R_REMOTE_ROUTE_KEY = "key.remote";
        start<collector_set>();
    }
};

TEST_F(collector_service_test, every_endpoint_is_routed_to_itself_and_needs_a_token)
{
    for (const endpoint& e : endpoints) {
        const route_match match = collector_set::match_handler(e.path + QStringLiteral("/x"));
        EXPECT_EQ(match.handler_path, e.path);
        EXPECT_TRUE(match.need_token) << e.path;
    }

    conf.CHECK_TOKEN_VALID = true;
    for (const endpoint& e : endpoints) {
        const raw_response answer = request("GET", e.path);
        EXPECT_EQ(answer.status, 307) << e.path;
        EXPECT_EQ(answer.body, R"({"What":"Token not valid"})") << e.path;
    }
    EXPECT_TRUE(api.commands.empty());
}

TEST_F(collector_service_test, refusals_are_answered_before_anything_is_sent)
{
    struct row
    {
        QString behaviour;
        QByteArray method;
        QByteArray target;
        QByteArray body;
        int status;
        QString what;
    };
    std::vector<row> rows;
    for (const endpoint& e : endpoints) {
        const QByteArray path = e.path;
        rows.push_back({ "PUT is not served", "PUT", path, "{\"a\":1}", 404, "" });
        rows.push_back(
            { "another method is not found", "PATCH", path, "", 404, "method not found" });
        rows.push_back(
            { "OPTIONS is not found either", "OPTIONS", path, "", 404, "method not found" });
        if (!e.serves_post)
            rows.push_back({ "POST on a GET-only endpoint", "POST", path, "{\"a\":1}", 404, "" });
        if (!e.serves_delete)
            rows.push_back({ "DELETE is not served", "DELETE", path, "{\"a\":1}", 404, "" });
    }
    const QByteArray bad_bodies[] = { "", "{}", "[{\"a\":1}]", "not json", "{\"a\":1", "null" };
    const QString bad_body = "Body is empty or not valid Json Object";
    for (const QByteArray& body : bad_bodies) {
        const QString b = " with the body '" + QString::fromUtf8(body) + "'";
        rows.push_back({ "IEC 104 settings refuse a bad body with 403" + b, "POST",
            "/iec104/api/settings", body, 403, bad_body });
        rows.push_back({ "the converter refuses a bad meter timeout with 400" + b, "POST",
            "/spodes_to_tornel/meter_timeout", body, 400, bad_body });
        rows.push_back({ "the converter refuses bad tasks with 400" + b, "POST",
            "/spodes_to_tornel/tasks", body, 400, bad_body });
        rows.push_back({ "the converter refuses a bad gray list with 400" + b, "POST",
            "/spodes_to_tornel/gray_list_meters", body, 400, bad_body });
        rows.push_back({ "the converter refuses a bad gray list removal with 400" + b, "DELETE",
            "/spodes_to_tornel/gray_list_meters", body, 400, bad_body });
    }

    for (const row& r : rows) {
        const QString where = r.behaviour + ": " + r.method + " " + r.target;
        const raw_response answer = request(r.method, r.target, {}, r.body);
        EXPECT_EQ(answer.status, r.status) << where.toStdString();
        EXPECT_EQ(
            QJsonDocument::fromJson(answer.body).object(), QJsonObject({ { "What", r.what } }))
            << where.toStdString() << "\n"
            << answer.body.constData();
        EXPECT_EQ(answer.header("content-type"), "application/json") << where.toStdString();
    }
    EXPECT_TRUE(api.commands.empty());
}

TEST_F(collector_service_test, requests_become_one_command_to_the_service)
{
    struct row
    {
        const char* behaviour;
        QByteArray method;
        QByteArray target;
        QByteArray body;
        const char* handler; // run-time type name, as the dispatch logs it
        QString command;
        QJsonObject data;
        QString routing_key;
    };
    const QJsonObject none;
    const row rows[] = {
        { "IEC 104 version", "GET", "/iec104/api/version", {}, typeid(IEC104VersionHandler).name(),
            "version", none, "key.iec104" },
        { "a route_key item replaces the service's key", "GET",
            "/iec104/api/version?route_key=cmd.in.other", {}, typeid(IEC104VersionHandler).name(),
            "version", none, "cmd.in.other" },
        { "an empty route_key sends with an empty key", "GET", "/iec104/api/version?route_key=", {},
            typeid(IEC104VersionHandler).name(), "version", none, "" },
        { "settings items mean nothing to the version", "GET",
            "/iec104/api/version?station_id=12&timestamp=5", {},
            typeid(IEC104VersionHandler).name(), "version", none, "key.iec104" },
        { "settings read without items sends an empty object", "GET", "/iec104/api/settings", {},
            typeid(IEC104SettingsHandler).name(), "iec_data_read", none, "key.iec104" },
        { "settings read: numbers, a text that is no number gives 0", "GET",
            "/iec104/api/settings?station_id=12&timestamp=soon&other=1", {},
            typeid(IEC104SettingsHandler).name(), "iec_data_read",
            QJsonObject { { "station_id", 12 }, { "timestamp", 0 } }, "key.iec104" },
        { "settings read: the last of two items, a number beyond 32 bits gives 0", "GET",
            "/iec104/api/settings?timestamp=1&timestamp=1700000000&station_id=99999999999", {},
            typeid(IEC104SettingsHandler).name(), "iec_data_read",
            QJsonObject { { "station_id", 0 }, { "timestamp", 1700000000 } }, "key.iec104" },
        { "settings write sends the body object unchanged; the query adds nothing", "POST",
            "/iec104/api/settings?station_id=3&route_key=k2", R"({"asdu":[1,2],"on":true})",
            typeid(IEC104SettingsHandler).name(), "iec_data_write",
            QJsonObject { { "asdu", QJsonArray { 1, 2 } }, { "on", true } }, "k2" },
        { "converter version", "GET", "/spodes_to_tornel/version", {},
            typeid(SpodesToTornelVersionHandler).name(), "version", none, "key.spodes" },
        { "meter time-out read", "GET", "/spodes_to_tornel/meter_timeout", {},
            typeid(SpodesToTornelMeterTimeoutHandler).name(), "get_meter_timeout", none,
            "key.spodes" },
        { "meter time-out write", "POST", "/spodes_to_tornel/meter_timeout", R"({"timeout":30})",
            typeid(SpodesToTornelMeterTimeoutHandler).name(), "set_meter_timeout",
            QJsonObject { { "timeout", 30 } }, "key.spodes" },
        { "relay execute status", "GET", "/spodes_to_tornel/relay_execute_status", {},
            typeid(SpodesToTornelRelayExecuteStatusHandler).name(), "get_relay_execute_status",
            none, "key.spodes" },
        { "tasks read; a station item changes nothing", "GET",
            "/spodes_to_tornel/tasks?station_id=4", {},
            typeid(SpodesToTornelTasksMetersSettingsHandler).name(), "get_tasks", none,
            "key.spodes" },
        { "tasks write", "POST", "/spodes_to_tornel/tasks", R"({"tasks":[]})",
            typeid(SpodesToTornelTasksMetersSettingsHandler).name(), "set_tasks",
            QJsonObject { { "tasks", QJsonArray() } }, "key.spodes" },
        { "gray list read", "GET", "/spodes_to_tornel/gray_list_meters", {},
            typeid(SpodesToTornelGrayListMetersSettingsHandler).name(), "get_gray_list", none,
            "key.spodes" },
        { "gray list write", "POST", "/spodes_to_tornel/gray_list_meters", R"({"meters":[7]})",
            typeid(SpodesToTornelGrayListMetersSettingsHandler).name(), "set_gray_list",
            QJsonObject { { "meters", QJsonArray { 7 } } }, "key.spodes" },
        { "gray list removal sends its body", "DELETE",
            "/spodes_to_tornel/gray_list_meters?route_key=elsewhere", R"({"meters":[8]})",
            typeid(SpodesToTornelGrayListMetersSettingsHandler).name(), "delete_from_gray_list",
            QJsonObject { { "meters", QJsonArray { 8 } } }, "elsewhere" },
        { "QOBI sender version", "GET", "/qobi_sender/api/version", {},
            typeid(QOBIsenderVersionHandler).name(), "version", none, "key.qobi" },
        { "collector meters, sent elsewhere", "GET",
            "/qobi_sender/api/uspd_meters?route_key=cmd.in.qobi2", {},
            typeid(QOBIsenderUspdMetersHandler).name(), "uspd_meters", none, "cmd.in.qobi2" },
    };

    const QJsonObject reply { { "version", "1.0.7" }, { "list", QJsonArray { 1, "two" } } };
    for (const row& r : rows) {
        api.commands.clear();
        loop_client client(port());
        client.send_request(r.method, r.target, {}, r.body);
        ASSERT_TRUE(wait_until([this] { return !api.commands.empty(); })) << r.behaviour;
        ASSERT_EQ(api.commands.size(), 1u) << r.behaviour;
        const fake_command_client::command& sent = api.commands.front();
        EXPECT_EQ(sent.type, r.command) << r.behaviour;
        EXPECT_EQ(sent.data, r.data) << r.behaviour;
        EXPECT_EQ(sent.routing_key, r.routing_key) << r.behaviour;
        EXPECT_TRUE(log_text().contains(QByteArray("Invoke method: ") + r.handler + " "))
            << r.behaviour;

        // The first reply completes the command and is the answer as it came.
        EXPECT_TRUE(sent.on_reply(QJsonDocument(reply))) << r.behaviour;
        raw_response answer;
        ASSERT_TRUE(client.read(answer)) << r.behaviour;
        EXPECT_EQ(answer.status, 200) << r.behaviour;
        EXPECT_EQ(answer.header("content-type"), "application/json") << r.behaviour;
        EXPECT_EQ(answer.body, QJsonDocument(reply).toJson(QJsonDocument::Compact)) << r.behaviour;
    }
}

// A body is sent on without a document of it: the command carries what QJsonDocument's object
// of it wrote, byte for byte, and a body it gave no members is refused as before.
TEST_F(collector_service_test, a_body_goes_out_as_its_qt_object_went)
{
    const QByteArray bodies[] = {
        R"({"b":[[1,[2.50]],{"z":1,"y":{}}],"a":-0,"b":"last"})",
        "{\"\xc3\xa9\":\"\\u00e9\\ud83d\",\"\\u00e9\":1e2,\"t\":\"\\/\x01\"}",
        "\xef\xbb\xbf {\n\"a\" : [ true , null ] }\r\n",
        R"({"a":1}x)",
        R"([{"a":1}])",
        "{}",
        "",
    };
    for (const QByteArray& body : bodies) {
        const QJsonObject object = QJsonDocument::fromJson(body).object();
        api.commands.clear();
        const raw_response answer = request("POST", "/spodes_to_tornel/tasks", {}, body, 100);
        if (object.isEmpty()) {
            EXPECT_EQ(answer.status, 400) << body.toStdString();
            EXPECT_TRUE(api.commands.empty()) << body.toStdString();
            continue;
        }
        ASSERT_EQ(api.commands.size(), 1u) << body.toStdString();
        EXPECT_EQ(api.commands.front().data_text.toStdString(),
            QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString());
    }
}

TEST_F(collector_service_test, the_first_reply_answers_whatever_its_shape)
{
    const QJsonDocument replies[]
        = { QJsonDocument(QJsonArray { 1, 2, 3 }), QJsonDocument(QJsonObject()) };
    const QByteArray answers[] = { "[1,2,3]", "{}" };
    for (int i = 0; i < 2; ++i) {
        api.commands.clear();
        loop_client client(port());
        client.send_request("GET", "/qobi_sender/api/uspd_meters");
        ASSERT_TRUE(wait_until([this] { return !api.commands.empty(); }));
        EXPECT_TRUE(api.commands.front().on_reply(replies[i])) << i;
        raw_response answer;
        ASSERT_TRUE(client.read(answer)) << i;
        EXPECT_EQ(answer.status, 200) << i;
        EXPECT_EQ(answer.body, answers[i]) << i;
    }
}

} // namespace
