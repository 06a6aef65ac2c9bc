#include "modem_road_fixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>

// The "/api/" modem handlers end to end: the real gateway, broker and Redis, and the scripted
// back-end answering as several application instances.

namespace {

QJsonObject object_of(const QByteArray& json)
{
    return QJsonDocument::fromJson(json).object();
}

// Every command answered by each of `replies`, one message per instance.
QJsonObject instances_replying(const QList<const char*>& replies)
{
    QJsonArray list;
    for (const char* data : replies)
        list.append(QJsonObject { { "data", QJsonDocument::fromJson(data).object() } });
    return QJsonObject { { "*", list } };
}

using modem_api_road_test = modem_road_test;

TEST_F(modem_api_road_test, requests_become_commands_merged_over_three_instances_or_are_refused)
{
    const auto backend = start_backend("app", { remote_key },
        instances_replying({ R"({"5":{"hw":1}})", R"({"6":{"x":2}})", R"({"5":{"hw":3}})" }));
    ASSERT_TRUE(backend->ready());
    seed({ "5", "6" });
    start_modem_gateway(3);
    ASSERT_TRUE(wait_links_up()) << gateway->output().constData();

    const QByteArray merged = R"({"5":{"hw":3},"6":{"x":2}})";
    auto foreign = [](const char* id) {
        return "{\"What\":\"Unavailable modem for provided token. Modem ID " + QByteArray(id)
            + "\"}";
    };
    const QByteArray few = R"({"What":"Too few arguments"})";
    const QByteArray not_json = R"({"What":"Body is not JSON"})";
    struct row
    {
        bool admin;
        QByteArray method, target, body;
        const char* type; // none: refused or answered at once, nothing sent
        QByteArray data; // the command data, or the answer when nothing is sent
        QString role = {}; // the caller's one role, when not "admin" or "user"
    };
    const row rows[] = {
        { false, "GET", "/api/setting?modem_id=5,6&setting=a,,b&Setting=x", {}, "read_setting",
            R"({"modem_id":[5,6],"settings":["a","","b"]})" },
        { false, "POST", "/api/calib?modem_id=9", R"({"6":{"k":1}})", "write_calib",
            R"({"calibs":{"6":{"k":1}}})" },
        { false, "POST", "/api/setting", "not json", "write_setting", R"({"settings":{}})" },
        { true, "GET", "/api/roll?modem_id=1,x,2&time_detected=True&extract=&to=z&tag=a", {},
            "get_roll_extract", R"({"modem_id":[1,2],"to":0,"tag":["a"]})" },
        { false, "GET", "/api/roll?modem_id=7&modem_id=5&time_detected=true", {}, "get_roll",
            R"({"modem_id":[5],"time_detected":true})" },
        { false, "GET", "/api/eav?modem_id=6&type=event&obis_code=1.8.0,2.8.0&first_and_last=1", {},
            "get_eav_event",
            R"({"modem_id":[6],"obis_codes":["1.8.0","2.8.0"],"first_and_last":false})" },
        { false, "GET", "/api/eav?modem_id=5&step=60&fill=p", {}, "get_eav_extract",
            R"({"modem_id":[5],"step":60,"fill":"p"})" },
        { false, "GET", "/api/app_ids?hw_type=h&protocol=p", {}, "get_ids",
            R"({"hw_type":"h","protocol":"p"})" },
        { false, "GET", "/api/metadata?modem_id=5&hw_type=h&app_id=a", {}, "get_metadata",
            R"({"modem_id":[5],"app_id":"a"})" },
        { false, "GET", "/api/reparse?modem_id=5&request=true&from=1", {}, "reparse_modem",
            R"({"modem_id":[5],"from":1,"request":true})" },
        { false, "POST", "/api/custom?instance=svc&a=1", "[1]", "custom_request",
            R"({"modem_id":[],"instance":"svc","type":"post","body":{},"query":{"a":"1"}})" },
        { false, "GET", "/api/dl?db_id=7,,8&modem_id=99", {}, "status_dl_msg",
            R"({"db_id":["7","","8"]})" },
        { false, "GET", "/api/dl?modem_id=5&not_acked=TRUE&limit=x", {}, "get_dl_msg",
            R"({"modem_id":[5],"limit":0})" },
        { false, "POST", "/api/dl?modem_id=5,6,&timeout=9", R"({"m":1})", "send_dl_msg",
            R"({"modem_id":[5,6],"timeout":9,"data":{"m":1},"api_key":["KEY"]})" },
        { true, "GET", "/api/dl_queue", {}, "dl_queue",
            R"({"admin":true,"limit":100,"mode":"normal","offset":0})" },
        { false, "GET", "/api/dl_queue?limit=50000&modem_id=5", {}, "dl_queue",
            R"({"5":{"action":"get"},"admin":false,"limit":10000,"mode":"normal","offset":0})" },
        { false, "POST", "/api/dl_queue", "{}", "dl_queue", "{}" },
        { true, "GET", "/api/dl_queue?modem_id=5,", {}, "dl_queue",
            R"({"5":{"action":"get"},"":{"action":"get"},"admin":true,"limit":100,"mode":"normal",)"
            R"("offset":0})" },
        { false, "GET", "/api/device?modem_id=5", {}, "device", R"({"modem_id":[5]})" },
        { false, "GET", "/api/roll?modem_id=5&from=010&limit=2", {}, "get_roll",
            R"({"modem_id":[5],"from":10,"limit":2})" },
        { false, "GET", "/api/calib?modem_id=5&calib=c", {}, "read_calib",
            R"({"modem_id":[5],"calibs":["c"]})" },
        { false, "GET", "/api/eav?modem_id=5&type=extract_event", {}, "get_eav_extract_event",
            R"({"modem_id":[5]})" },
        { false, "GET", "/api/eav?modem_id=5&type=value&tag=a&from=1&to=2&limit=3", {},
            "get_eav_value", R"({"modem_id":[5],"tag":["a"],"from":1,"to":2,"limit":3})" },
        { false, "GET", "/api/eav?modem_id=5&type=extract", {}, "get_eav_extract",
            R"({"modem_id":[5]})" },
        { false, "GET", "/api/metadata?hw_type=h&protocol=p&app_id=a", {}, "get_metadata",
            R"({"hw_type":"h","protocol":"p","app_id":"a"})" },
        { false, "GET", "/api/reparse?modem_id=5&to=x&request=True", {}, "reparse_modem",
            R"({"modem_id":[5],"to":0,"request":false})" },
        { false, "GET", "/api/custom?instance=svc&modem_id=5&a=1", R"({"b":1})", "custom_request",
            R"({"modem_id":[5],"instance":"svc","type":"get","body":{"b":1},"query":{"a":"1"}})" },
        { false, "GET", "/api/info?hw_type=h&protocol=p", {}, "get_info", "{}" },
        { false, "GET", "/api/dl?modem_id=5&from=1&to=2&not_acked=true", {}, "get_dl_msg",
            R"({"modem_id":[5],"from":1,"to":2,"not_acked":true})" },
        { false, "POST", "/api/dl?modem_id=5&f_ack=1&dl_phy=2&frequency=3&station_id=4&f_system=x",
            "{}", "send_dl_msg",
            R"({"modem_id":[5],"f_ack":1,"dl_phy":2,"frequency":3,"station_id":4,"f_system":0,)"
            R"("data":{},"api_key":["KEY"]})" },
        { false, "POST", "/api/dl_queue", R"({"all":{"modem_id":[5,6]}})", "dl_queue",
            R"({"all":{"modem_id":[5,6]}})" },
        { false, "GET", "/api/calib", {}, nullptr, few },
        { false, "GET", "/api/setting", {}, nullptr, few },
        { false, "GET", "/api/roll", {}, nullptr, few },
        { false, "GET", "/api/device", {}, nullptr, few },
        { false, "GET", "/api/eav?type=event", {}, nullptr, few },
        { false, "GET", "/api/reparse", {}, nullptr, few },
        { false, "GET", "/api/check_ids", {}, nullptr, few },
        { false, "GET", "/api/app_ids?hw_type=h", {}, nullptr, few },
        { false, "GET", "/api/app_ids?protocol=p", {}, nullptr, few },
        { false, "GET", "/api/dl?from=1", {}, nullptr, few },
        { false, "POST", "/api/dl", "{}", nullptr, few },
        { false, "GET", "/driver_tornel/api/cmd/send?modem=5", {}, nullptr, few },
        { false, "GET", "/api/metadata?hw_type=h", {}, nullptr, few },
        { false, "GET", "/api/custom?a=1", {}, nullptr, few },
        { false, "GET", "/api/eav?modem_id=5&type=Event", {}, nullptr,
            R"({"What":"Please enter correct type parameter"})" },
        { false, "GET", "/api/eav?modem_id=9&type=Event", {}, nullptr, foreign("9") },
        { false, "GET", "/api/roll?modem_id=,5,9", {}, nullptr, foreign("9") },
        { false, "GET", "/api/dl?modem_id=5,,x", {}, nullptr, foreign("x") },
        { false, "POST", "/api/setting", R"({"5":{},"9":{}})", nullptr, foreign("9") },
        { false, "POST", "/api/dl?modem_id=9", {}, nullptr, foreign("9") },
        { false, "POST", "/api/dl?modem_id=5", {}, nullptr, not_json },
        { false, "POST", "/api/dl_queue", R"({"all":{"modem_id":[5,"6"]}})", nullptr,
            foreign("0") },
        { false, "POST", "/api/dl_queue", R"({"all":1})", nullptr, foreign("all") },
        { false, "POST", "/api/dl_queue", R"({"all":{"modem_id":[5]},"zz":{"action":"del"}})",
            nullptr, foreign("zz") },
        { false, "POST", "/api/dl_queue", R"({"all":{"modem_id":[6,5]}})", "dl_queue",
            R"({"all":{"modem_id":[6,5]}})" },
        { false, "POST", "/api/dl_queue", R"({"5":{},"all":{"modem_id":[6]}})", nullptr,
            foreign("all") },
        { false, "POST", "/api/dl_queue", R"({"all":{"modem_id":5}})", nullptr, foreign("all") },
        { false, "POST", "/api/dl_queue", R"({"all":{"modem_id":[5.5]}})", nullptr, foreign("0") },
        { false, "POST", "/api/dl_queue", "not json", nullptr, not_json },
        { false, "GET", "/api/device?modem_id=5,9", {}, nullptr, foreign("9") },
        { false, "GET", "/api/dl_queue?modem_id=5,9", {}, nullptr, foreign("9") },
        { false, "GET", "/api/custom?instance=svc&modem_id=9", {}, nullptr, foreign("9") },
        { false, "GET", "/api/metadata?modem_id=9&hw_type=h&protocol=p", {}, nullptr,
            foreign("9") },
        { false, "GET", "/api/reparse?modem_id=9", {}, nullptr, foreign("9") },
        { false, "GET", "/api/setting?modem_id=9", {}, nullptr, foreign("9") },
        { false, "GET", "/api/calib?modem_id=9", {}, nullptr, foreign("9") },
        { false, "POST", "/api/calib", R"({"9":{}})", nullptr, foreign("9") },
        { false, "GET", "/api/roll?modem_id=9", {}, nullptr, foreign("9"), "administrator" },
        { false, "GET", "/api/check_ids?modem_id=9", {}, nullptr, R"({"9":false})", "Admin" },
        { false, "GET", "/driver_tornel/api/cmd/send?modem=9&code=1", {}, nullptr, foreign("9") },
        { false, "GET", "/driver_tornel/api/setting/version_list?modem=9", {}, nullptr,
            foreign("9") },
        { false, "GET", "/driver_tornel/api/setting?modem=9,2", {}, nullptr, foreign("9") },
        { false, "GET", "/driver_tornel/api/report/history?modem=9", {}, nullptr, foreign("9") },
        { false, "GET", "/driver_tornel/api/report/events?modem=9", {}, nullptr, foreign("9") },
        { false, "GET", "/driver_tornel/api/RAM/indexes?modem=9", {}, nullptr, foreign("9") },
        { false, "GET", "/driver_tornel/api/setting/version_list", {}, nullptr, few },
        { false, "GET", "/driver_tornel/api/setting?code=1", {}, nullptr, few },
        { false, "GET", "/driver_tornel/api/report/history", {}, nullptr, few },
        { false, "GET", "/driver_tornel/api/report/events", {}, nullptr, few },
        { false, "GET", "/driver_tornel/api/RAM/indexes", {}, nullptr, few },
        { false, "GET", "/driver_tornel/api/cmd/status", {}, nullptr, few },
        { false, "GET", "/api/dl_queue?limit=x", {}, nullptr,
            R"({"What":"No available modem for provided token."})" },
        { false, "GET", "/api/check_ids?modem_id=5,9,5", {}, nullptr, R"({"5":true,"9":false})" },
        { true, "GET", "/api/check_ids?modem_id=5,9,5", {}, nullptr, R"({"5":true,"9":true})" },
        { true, "GET", "/api/check_ids?modem_id=9,", {}, nullptr, R"({"":true,"9":true})" },
        { false, "PUT", "/api/custom", {}, nullptr, R"({"What":""})" },
        { false, "POST", "/api/roll?modem_id=5", {}, nullptr, R"({"What":""})" },
        { false, "PATCH", "/api/dl_queue", {}, nullptr, R"({"What":"method not found"})" },
    };
    for (const row& r : rows) {
        const int sent_before = recorded("app").size();
        const raw_response answer = ask(r.method, r.target, r.admin, r.body, r.role);
        const char* where = r.target.constData();
        const QList<QByteArray> sent = recorded("app");
        if (!r.type) {
            EXPECT_EQ(answer.body, r.data) << where;
            EXPECT_EQ(sent.size(), sent_before) << where;
            continue;
        }
        EXPECT_EQ(answer.body, merged) << where;
        ASSERT_EQ(sent.size(), sent_before + 1) << where;
        const QJsonObject command = object_of(sent.last());
        EXPECT_EQ(command.value("msg_type").toString(), r.type) << where;
        EXPECT_EQ(command.value("data").toObject(),
            object_of(QByteArray(r.data).replace("KEY", api_key.toUtf8())))
            << where;
    }

    // Descriptions name every requested modem; "/api/info" needs no token.
    EXPECT_EQ(ask("GET", "/api/device?modem_id=5,6,x", true).body,
        R"({"5":{"hw":3},"6":{"x":2},"x":{"supported":false}})");
    EXPECT_EQ(get("/api/info").body, merged);
    // Without the API-key check nobody is restricted.
    gateway->set_ini("GENERAL_SETTINGS/CHECK_TOKEN_API_KEY", "DISABLE");
    EXPECT_EQ(ask("GET", "/api/check_ids?modem_id=9").body, R"({"9":true})");
}

TEST_F(modem_api_road_test, a_restricted_queue_read_counts_and_pages_its_own_modems)
{
    const auto backend = start_backend("app", { remote_key },
        instances_replying({ R"({"all":{"dl":{"1":"a"}}})", R"({"all":{"dl":{"2":"b"}}})" }));
    ASSERT_TRUE(backend->ready());
    seed({ "2", "10", "9" });
    start_modem_gateway(2);
    ASSERT_TRUE(wait_links_up()) << gateway->output().constData();

    struct row
    {
        QByteArray target;
        const char* data;
        const char* answer;
    };
    const row rows[] = {
        { "/api/dl_queue?mode=modem_count", nullptr, // one modem member, in store order
            R"({"all":{"action":"get","status":"ok","total_count":3}})" },
        { "/api/dl_queue?mode=modem_list&offset=1&limit=5",
            R"({"2":{"action":"get"},"admin":false,"limit":2,"mode":"modem_list","offset":1})",
            R"({"all":{"action":"get","modem_list":[2,9],"status":"ok"}})" },
        { "/api/dl_queue?mode=queue_list&modem_id=9",
            R"({"9":{"action":"get"},"admin":false,"limit":100,"mode":"queue_list","offset":0})",
            R"({"all":{"action":"get","dl":{"1":"a","2":"b"},"status":"ok"}})" },
        { "/api/dl_queue?offset=5",
            R"({"9":{"action":"get"},"admin":false,"limit":1,"mode":"normal","offset":2})",
            R"({"all":{"dl":{"2":"b"}}})" },
    };
    for (const row& r : rows) {
        EXPECT_EQ(ask("GET", r.target).body, r.answer) << r.target.constData();
        const QJsonObject sent = object_of(recorded("app").last());
        if (r.data)
            EXPECT_EQ(sent.value("data").toObject(), object_of(r.data)) << r.target.constData();
        else
            EXPECT_EQ(sent.value("data").toObject().size(), 5) << r.target.constData();
    }
}

TEST_F(modem_api_road_test, redis_down_is_answered_400_and_the_store_recovers)
{
    const auto backend = start_backend("app", { remote_key }, instances_replying({ "{}" }));
    ASSERT_TRUE(backend->ready());
    const int port = gateway_process::free_port();
    start_modem_gateway(1, port);
    ASSERT_TRUE(wait_links_up()) << gateway->output().constData();

    const raw_response down = ask("GET", "/api/roll?modem_id=5");
    EXPECT_EQ(down.status, 400);
    EXPECT_TRUE(object_of(down.body).value("What").toString().startsWith("Redis exception: "))
        << down.body.constData();

    QProcess redis;
    redis.start("redis-server",
        { "--bind", "127.0.0.1", "--port", QString::number(port), "--save", "", "--appendonly",
            "no" });
    ASSERT_TRUE(redis.waitForStarted());
    for (int i = 0; i < 100 && redis_cli(port, { "ping" }) != 0; ++i)
        QThread::msleep(20);
    seed({ "5" }, port);
    EXPECT_EQ(ask("GET", "/api/roll?modem_id=5").status, 200);
    EXPECT_EQ(recorded("app").size(), 1);
    redis.terminate();
    redis.waitForFinished();
}

} // namespace
