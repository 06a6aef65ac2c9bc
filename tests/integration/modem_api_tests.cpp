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

// Every command type answered by each of `replies`, one message per instance.
QJsonObject instances_replying(const QList<const char*>& replies)
{
    QJsonArray list;
    for (const char* data : replies)
        list.append(QJsonObject { { "data", QJsonDocument::fromJson(data).object() } });
    return QJsonObject { { "*", list } };
}

using modem_api_road_test = modem_road_test;

TEST_F(modem_api_road_test, each_class_sends_its_command_and_merges_three_instances)
{
    const auto backend = start_backend("app", { remote_key },
        instances_replying({ R"({"5":{"hw":1}})", R"({"6":{"x":2}})", R"({"5":{"hw":3}})" }));
    ASSERT_TRUE(backend->ready());
    seed({ "5", "6" });
    start_modem_gateway(3);
    ASSERT_TRUE(wait_links_up()) << gateway->output().constData();

    struct row
    {
        QByteArray method, target, body;
        const char* type;
        const char* data;
    };
    const row rows[] = {
        { "GET", "/api/setting?modem_id=5,6&setting=a", {}, "read_setting",
            R"({"modem_id":[5,6],"settings":["a"]})" },
        { "POST", "/api/calib", R"({"6":{"k":1}})", "write_calib", R"({"calibs":{"6":{"k":1}}})" },
        { "GET", "/api/roll?modem_id=5&from=1&to=2", {}, "get_roll",
            R"({"modem_id":[5],"from":1,"to":2})" },
        { "GET", "/api/eav?modem_id=6&type=value&obis_code=1.8.0", {}, "get_eav_value",
            R"({"modem_id":[6],"obis_codes":["1.8.0"]})" },
        { "GET", "/api/app_ids?hw_type=h&protocol=p", {}, "get_ids",
            R"({"hw_type":"h","protocol":"p"})" },
        { "GET", "/api/metadata?modem_id=5&app_id=a", {}, "get_metadata",
            R"({"modem_id":[5],"app_id":"a"})" },
        { "GET", "/api/reparse?modem_id=5&request=true", {}, "reparse_modem",
            R"({"modem_id":[5],"request":true})" },
        { "POST", "/api/custom?instance=svc&a=1", R"({"b":2})", "custom_request",
            R"({"modem_id":[],"instance":"svc","type":"post","body":{"b":2},"query":{"a":"1"}})" },
        { "GET", "/api/dl?modem_id=5&not_acked=true", {}, "get_dl_msg",
            R"({"modem_id":[5],"not_acked":true})" },
        { "POST", "/api/dl?modem_id=5,6&timeout=9", R"({"m":1})", "send_dl_msg",
            qPrintable(R"({"modem_id":[5,6],"timeout":9,"data":{"m":1},"api_key":[")" + api_key
                + "\"]}") },
        { "POST", "/api/dl_queue", R"({"5":{"action":"del"}})", "dl_queue",
            R"({"5":{"action":"del"}})" },
    };
    const QByteArray merged = R"({"5":{"hw":3},"6":{"x":2}})";
    for (const row& r : rows) {
        const raw_response answer = ask(r.method, r.target, false, r.body);
        EXPECT_EQ(answer.status, 200) << r.target.constData() << answer.body.constData();
        EXPECT_EQ(answer.body, merged) << r.target.constData();
        const QJsonObject sent = object_of(recorded("app").last());
        EXPECT_EQ(sent.value("msg_type").toString(), r.type) << r.target.constData();
        EXPECT_EQ(sent.value("data").toObject(), object_of(r.data)) << r.target.constData();
    }

    // Descriptions name every requested modem (an administrator may name x); "/api/info" needs
    // no token.
    EXPECT_EQ(ask("GET", "/api/device?modem_id=5,6,x", true).body,
        R"({"5":{"hw":3},"6":{"x":2},"x":{"supported":false}})");
    const raw_response info = get("/api/info");
    EXPECT_EQ(info.status, 200);
    EXPECT_EQ(info.body, merged);
    EXPECT_EQ(recorded("app").size(), int(std::size(rows)) + 2);
}

TEST_F(modem_api_road_test, ownership_is_read_from_redis_before_anything_is_sent)
{
    const auto backend = start_backend("app", { remote_key }, instances_replying({ "{}" }));
    ASSERT_TRUE(backend->ready());
    seed({ "5" });
    start_modem_gateway(1);
    ASSERT_TRUE(wait_links_up()) << gateway->output().constData();

    const QByteArray foreign = "Unavailable modem for provided token. Modem ID ";
    EXPECT_EQ(ask("GET", "/api/roll?modem_id=,5,9").body, R"({"What":")" + foreign + "9\"}");
    EXPECT_EQ(ask("GET", "/api/dl?modem_id=5,x").body, R"({"What":")" + foreign + "x\"}");
    EXPECT_EQ(ask("GET", "/api/check_ids?modem_id=5,9").body, R"({"5":true,"9":false})");
    EXPECT_EQ(ask("GET", "/api/check_ids?modem_id=5,9", true).body, R"({"5":true,"9":true})");
    EXPECT_TRUE(recorded("app").isEmpty());
    // An administrator names any modem.
    EXPECT_EQ(ask("GET", "/api/roll?modem_id=9", true).status, 200);
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
        { "/api/dl_queue?mode=modem_count", nullptr,
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
        const raw_response answer = ask("GET", r.target);
        EXPECT_EQ(answer.body, r.answer) << r.target.constData();
        const QJsonObject data = object_of(recorded("app").last()).value("data").toObject();
        if (r.data)
            EXPECT_EQ(data, object_of(r.data)) << r.target.constData();
        else
            EXPECT_EQ(data.size(), 5) << "one modem member only";
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
