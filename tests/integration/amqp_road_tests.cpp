#include "collector_road_fixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

// The collector's service endpoints end to end: the real gateway, the real broker and the
// scripted back-end.

namespace {

QByteArray compact(const QJsonValue& value)
{
    return value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                           : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
}

QJsonObject object_of(const QByteArray& json)
{
    return QJsonDocument::fromJson(json).object();
}

// A command exactly as the services must see it: compact, these four keys in this order.
QByteArray command_wire(
    const QString& id, const QJsonObject& data, const QString& type, const QString& sender)
{
    return "{\"cmd_id\":\"" + id.toUtf8() + "\",\"data\":" + compact(data) + ",\"msg_type\":\""
        + type.toUtf8() + "\",\"sender\":\"" + sender.toUtf8() + "\"}";
}

bool is_braced_lower_uuid(const QString& id)
{
    static const QRegularExpression form(
        "^\\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}$");
    return form.match(id).hasMatch();
}

// The last recorded message of one command type.
QByteArray last_of_type(const QList<QByteArray>& messages, const QString& type)
{
    for (int i = messages.size() - 1; i >= 0; --i)
        if (object_of(messages[i]).value("msg_type").toString() == type)
            return messages[i];
    return {};
}

// Messages in the gateway's queue, ready or not yet acknowledged; -1 when it is not listed.
int messages_in_queue(const QString& queue)
{
    QString listing;
    test_services::rabbitmqctl(
        { "list_queues", "-p", "/api", "--no-table-headers", "name", "messages" }, &listing);
    for (const QString& line : listing.split('\n')) {
        const QStringList fields = line.split('\t');
        if (fields.size() == 2 && fields[0] == queue)
            return fields[1].trimmed().toInt();
    }
    return -1;
}

using amqp_road_test = collector_road_test;

TEST_F(amqp_road_test, commands_reach_the_service_in_wire_format_and_the_first_reply_answers)
{
    const QJsonObject script {
        { "version",
            QJsonArray { QJsonObject {
                { "data", QJsonObject { { "v", "2.1" } } }, { "cmd_id_form", "upper" } } } },
        { "iec_data_read",
            QJsonArray { QJsonObject { { "data", QJsonObject { { "station", 12 } } } } } },
        { "set_tasks",
            QJsonArray { QJsonObject { { "data", QJsonObject { { "accepted", true } } },
                { "cmd_id_form", "unbraced" } } } },
        { "get_gray_list",
            QJsonArray {
                QJsonObject { { "data", QJsonArray { 5, 6 } }, { "cmd_id_form", "braced" } } } },
        { "uspd_meters",
            QJsonArray { QJsonObject { { "data", QJsonObject { { "first", 1 } } },
                             { "cmd_id_form", "upper" } },
                QJsonObject { { "data", QJsonObject { { "second", 2 } } }, { "delay_ms", 50 } } } },
    };
    const QString elsewhere = "elsewhere." + unique;
    const QJsonObject other_script { { "version",
        QJsonArray { QJsonObject { { "data", QJsonObject { { "from", "elsewhere" } } } } } } };
    const auto services = start_backend("a", { iec104_key, spodes_key, qobi_key }, script);
    const auto other = start_backend("b", { elsewhere }, other_script);
    ASSERT_TRUE(services->ready());
    ASSERT_TRUE(other->ready());
    start_collector();
    ASSERT_TRUE(wait_links_up()) << gateway->output().constData();

    struct row
    {
        const char* behaviour;
        QByteArray method;
        QByteArray target;
        QByteArray body;
        const char* backend;
        const char* type;
        QJsonObject data;
        QJsonValue answer;
    };
    const row rows[] = {
        { "the reply's id in upper case is matched", "GET", "/iec104/api/version", {}, "a",
            "version", {}, QJsonObject { { "v", "2.1" } } },
        { "the reply's id as sent; query items become numbers", "GET",
            "/iec104/api/settings?station_id=12&timestamp=later", {}, "a", "iec_data_read",
            QJsonObject { { "station_id", 12 }, { "timestamp", 0 } },
            QJsonObject { { "station", 12 } } },
        { "the reply's id without braces is matched; the body is the data", "POST",
            "/spodes_to_tornel/tasks", R"({"tasks":[{"meter":1}]})", "a", "set_tasks",
            QJsonObject { { "tasks", QJsonArray { QJsonObject { { "meter", 1 } } } } },
            QJsonObject { { "accepted", true } } },
        { "an array reply is the answer", "GET", "/spodes_to_tornel/gray_list_meters", {}, "a",
            "get_gray_list", {}, QJsonArray { 5, 6 } },
        { "of two replies the first answers", "GET", "/qobi_sender/api/uspd_meters", {}, "a",
            "uspd_meters", {}, QJsonObject { { "first", 1 } } },
        { "route_key sends the command elsewhere", "GET",
            "/qobi_sender/api/version?route_key=" + elsewhere.toUtf8(), {}, "b", "version", {},
            QJsonObject { { "from", "elsewhere" } } },
    };
    for (const row& r : rows) {
        const raw_response answer = call(r.method, r.target, r.body);
        EXPECT_EQ(answer.status, 200) << r.behaviour << "\n" << answer.body.constData();
        EXPECT_EQ(answer.header("content-type"), "application/json") << r.behaviour;
        EXPECT_EQ(answer.body, compact(r.answer)) << r.behaviour;

        const QByteArray wire = last_of_type(recorded(r.backend), r.type);
        const QString id = object_of(wire).value("cmd_id").toString();
        EXPECT_TRUE(is_braced_lower_uuid(id)) << r.behaviour << ": " << wire.constData();
        EXPECT_EQ(wire, command_wire(id, r.data, r.type, gateway_queue)) << r.behaviour;
    }
    // Nothing else reached either service: the override took the command away from "a".
    EXPECT_EQ(recorded("a").size(), 5);
    EXPECT_EQ(recorded("b").size(), 1);
}

TEST_F(amqp_road_test, refused_requests_never_reach_the_broker)
{
    const QJsonObject script { { "*",
        QJsonArray { QJsonObject { { "data", QJsonObject { { "ok", true } } } } } } };
    const auto services = start_backend("a", { iec104_key, spodes_key, qobi_key }, script);
    ASSERT_TRUE(services->ready());
    start_collector();
    ASSERT_TRUE(wait_links_up()) << gateway->output().constData();

    struct row
    {
        const char* behaviour;
        QByteArray method;
        QByteArray target;
        QByteArray body;
        int status;
        const char* what;
    };
    const row rows[] = {
        { "IEC 104 settings with an empty object", "POST", "/iec104/api/settings", "{}", 403,
            "Body is empty or not valid Json Object" },
        { "meter time-out with an array", "POST", "/spodes_to_tornel/meter_timeout", "[1]", 400,
            "Body is empty or not valid Json Object" },
        { "gray list removal with text", "DELETE", "/spodes_to_tornel/gray_list_meters", "nope",
            400, "Body is empty or not valid Json Object" },
        { "PUT", "PUT", "/iec104/api/settings", R"({"a":1})", 404, "" },
        { "POST on a GET-only endpoint", "POST", "/qobi_sender/api/version", R"({"a":1})", 404,
            "" },
    };
    for (const row& r : rows) {
        const raw_response answer = call(r.method, r.target, r.body);
        EXPECT_EQ(answer.status, r.status) << r.behaviour;
        EXPECT_EQ(object_of(answer.body), QJsonObject({ { "What", r.what } })) << r.behaviour;
    }
    // Commands leave in order, so one that was sent after the refusals shows that none of
    // them went out.
    EXPECT_EQ(call("GET", "/spodes_to_tornel/version").status, 200);
    const QList<QByteArray> got = recorded("a");
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(object_of(got[0]).value("msg_type"), "version");
}

TEST_F(amqp_road_test, a_command_nobody_answers_times_out_and_a_late_reply_is_dropped)
{
    const QJsonObject script {
        { "version",
            QJsonArray { QJsonObject {
                { "data", QJsonObject { { "late", true } } }, { "delay_ms", 2500 } } } },
        { "get_tasks", QJsonArray { QJsonObject { { "data", QJsonObject { { "ok", 1 } } } } } },
    };
    const auto services = start_backend("a", { iec104_key, spodes_key }, script);
    ASSERT_TRUE(services->ready());
    start_collector({}, { { "GORVEX_TEST_COMMAND_TIMEOUT_MS", "1000" } });
    ASSERT_TRUE(wait_links_up()) << gateway->output().constData();

    const raw_response timed_out = call("GET", "/iec104/api/version");
    EXPECT_EQ(timed_out.status, 500);
    EXPECT_EQ(timed_out.body, "rabbit command execution timeout");
    EXPECT_EQ(timed_out.header_count("content-type"), 0);
    const QString id = object_of(last_of_type(recorded("a"), "version")).value("cmd_id").toString();
    EXPECT_TRUE(gateway->output().contains(("Timeout :" + id).toUtf8()));

    // The reply that comes after the time-out finds no command; the link goes on serving.
    ASSERT_TRUE(services->wait_for_lines("SENT ", 1));
    const raw_response next = call("GET", "/spodes_to_tornel/tasks");
    EXPECT_EQ(next.status, 200);
    EXPECT_EQ(next.body, R"({"ok":1})");
    EXPECT_FALSE(gateway->output().contains(("Rabbit executed :" + id).toUtf8()));
}

TEST_F(amqp_road_test, the_main_link_rejects_what_is_not_a_reply_and_answers_nothing)
{
    const QString reply_key = "probe." + unique;
    ASSERT_TRUE(probe->declare_queue(reply_key, exchange, reply_key));
    start_collector({}, { { "GORVEX_TEST_COMMAND_TIMEOUT_MS", "1000" } });
    ASSERT_TRUE(wait_links_up()) << gateway->output().constData();

    const QByteArray incoming[] = {
        "{\"cmd_id\":\"{6f1c2e4a-0000-4000-8000-000000000001}\",\"data\":[{\"api_key\":\"k\","
        "\"modem_ids\":[1]}],\"msg_type\":\"clients_devices\",\"sender\":\""
            + reply_key.toUtf8() + "\"}",
        "{\"cmd_id\":\"{6f1c2e4a-0000-4000-8000-000000000002}\",\"data\":{},\"msg_type\":"
        "\"version\",\"sender\":\""
            + reply_key.toUtf8() + "\"}",
        "not json at all",
        "[1,2,3]",
    };
    for (const QByteArray& body : incoming)
        ASSERT_TRUE(probe->publish(exchange, gateway_queue, body));
    // A round trip on the same channel: the broker has taken the messages in.
    ASSERT_TRUE(probe->declare_queue(reply_key, exchange, reply_key));

    // Rejected without requeue: the queue empties and stays empty.
    ASSERT_TRUE(wait_until([&] { return messages_in_queue(gateway_queue) == 0; }, 20000));

    // An answer would have left through the link's publisher before the message was settled;
    // a command sent now through the same publisher to the same key comes after it.
    raw_http pending(gateway->port());
    pending.send(request_bytes("GET", "/iec104/api/version?route_key=" + reply_key.toUtf8()));
    const auto first = probe->wait_get(reply_key);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(object_of(first->body).value("msg_type"), "version") << first->body.constData();
    EXPECT_FALSE(object_of(first->body).value("cmd_id").toString().contains("6f1c2e4a"));
    EXPECT_FALSE(probe->get(reply_key).has_value());
    EXPECT_EQ(messages_in_queue(gateway_queue), 0);
    probe->delete_queue(reply_key);
    EXPECT_TRUE(gateway->running());
}

TEST_F(amqp_road_test, a_routing_key_too_long_on_the_wire_fails_its_command_at_once)
{
    const QJsonObject script { { "version",
        QJsonArray { QJsonObject { { "data", QJsonObject { { "v", "2.1" } } } } } } };
    const auto services = start_backend("a", { iec104_key, qobi_key }, script);
    ASSERT_TRUE(services->ready());
    start_collector();
    ASSERT_TRUE(wait_links_up()) << gateway->output().constData();

    // 100 characters that pass as 100 bytes and go out as 300.
    QByteArray key;
    for (int i = 0; i < 100; ++i)
        key += "%C3%A9";
    const raw_response refused = call("GET", "/iec104/api/version?route_key=" + key, {}, 3000);
    EXPECT_EQ(refused.status, 500);
    EXPECT_EQ(refused.body, "Routing key longer than 255 bytes");
    EXPECT_EQ(log_count("Routing key longer than 255 bytes, message dropped"), 1);

    // The publisher's connection stayed up: the next command goes out at once.
    const raw_response next = call("GET", "/qobi_sender/api/version", {}, 3000);
    EXPECT_EQ(next.status, 200);
    EXPECT_EQ(next.body, R"({"v":"2.1"})");
    EXPECT_EQ(log_count("rabbit_publisher_impl: Disconnected"), 0);
    EXPECT_EQ(recorded("a").size(), 1);
}

TEST_F(amqp_road_test, a_command_over_the_links_bound_is_answered_413_at_once)
{
    // Every empty item of the list reads as download index 0, written "0" in the command: the
    // command is about four times the body.
    const QString remote = "remote." + unique;
    const QJsonObject script { { "status_dl_msg",
        QJsonArray { QJsonObject { { "data",
            QJsonObject { { "0", QJsonObject { { "dl_status", "EXECUTED" } } } } } } } } };
    const auto services = start_backend("a", { remote }, script);
    ASSERT_TRUE(services->ready());
    start_collector({ { "GENERAL_SETTINGS/R_REMOTE_ROUTE_KEY", remote } });
    ASSERT_TRUE(wait_links_up()) << gateway->output().constData();
    const QByteArray driver_token = token(payload(
        "2.0", "user@x", QJsonObject { { "driver_tornel", QJsonObject { { "admin", "" } } } }));
    const auto status_of = [&](int items) {
        return call_as(driver_token, "POST", "/driver_tornel/api/cmd/status",
            "cmd_id=" + QByteArray(items, ','), 60000);
    };

    // A command a little over the bound, from a body well under the HTTP layer's.
    const raw_response refused = status_of(16 << 20);
    EXPECT_EQ(refused.status, 413);
    EXPECT_EQ(refused.body, R"({"What":"Request body too large"})");
    EXPECT_EQ(refused.header("content-type"), "application/json");
    EXPECT_EQ(log_count("Request /driver_tornel/api/cmd/status refused: its command status_dl_msg "
                        "is "),
        1)
        << gateway->output().right(2000).constData();
    EXPECT_EQ(log_count(" bytes, more than the AMQP link takes (67108864)"), 1);

    // An ordinary one goes out over the same connection and is answered. (Not a large one: the
    // gateway's DEBUG line of a command of megabytes would fill the pipe this test reads.)
    const raw_response fits = status_of(1000);
    EXPECT_EQ(fits.status, 200);
    EXPECT_EQ(fits.body, R"({"0":"DONE"})");
    ASSERT_EQ(recorded("a").size(), 1);
    EXPECT_EQ(log_count("rabbit_publisher_impl: Disconnected"), 0);
}

} // namespace
