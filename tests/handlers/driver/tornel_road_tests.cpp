#include "access/redis_connection.h"
#include "access/redis_helper.h"
#include "routes/collector_set.h"
#include "routes/road_fixture.h"

#include "router/qt_print.h"
#include "support/test_services.h"
#include "tornel_json.h"

#include <QDateTime>
#include <cmath>

// The meter-driver paths driven through the collector's real road with a scripted AMQP link.

namespace {

// A download-index map whose Redis has gone away.
class dl_store : public null_access
{
public:
    int register_dl_index(QString) override
    {
        throw RedisClient::Connection::Exception("connection lost");
    }
    QString dl_db_id_of(int) override { throw RedisClient::Connection::Exception("WRONGTYPE"); }
};

class tornel_road_test : public road_fixture
{
protected:
    void SetUp() override
    {
        conf.CHECK_TOKEN_VALID = false;
        conf.CHECK_TOKEN_EXP_TIME = false;
        conf.R_REMOTE_ROUTE_KEY = "key.remote";
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0,
            [this](qhttp::server::QHttpRequest* request, qhttp::server::QHttpResponse* response) {
                dependency_container container { conf, *under_test, log, rabbit, &forward_owner,
                    statistics, api };
                router_for_t<dependency_container, collector_set>::route(
                    container, request, response);
            }));
    }

    // Sends one request and waits for its command.
    fake_command_client::command* send(loop_client& client, const QByteArray& target,
        const QByteArray& method = "GET", const QByteArray& body = {})
    {
        api.commands.clear();
        client.send_request(method, "/driver_tornel/api/" + target, {}, body);
        return wait_until([this] { return !api.commands.empty(); }) ? &api.commands.front()
                                                                    : nullptr;
    }

    dl_store store;
    access_helper* under_test = &store;
};

TEST_F(tornel_road_test, requests_become_one_driver_command)
{
    struct row
    {
        const char* behaviour;
        QByteArray target;
        QByteArray method;
        QByteArray body;
        QString command;
        const char* data; // a custom request's "query" for "custom_request"
        QString routing_key = "key.remote";
        QList<const char*> replies = {}; // one per instance
        const char* answer = nullptr; // once both have replied; without the clock's members
    };
    const row rows[] = {
        { "send: a JSON value as the inner data",
            "cmd/send?modem=5,,x,7&code=9&value=%7B%22a%22%3A1%7D&route_key=", "GET", {},
            "send_dl_msg", R"({"api_key":[],"data":{"cmd":"9","data":{"a":1}},"modem_id":[5,7]})",
            "" },
        { "send: plain text as the inner data", "cmd/send?modem=5&code=1&value=abc", "GET", {},
            "send_dl_msg", R"({"api_key":[],"data":{"cmd":"1","data":"abc"},"modem_id":[5]})" },
        { "send: an array as the inner data", "cmd/send?modem=5&code=1&value=%5B1%5D", "GET", {},
            "send_dl_msg", R"({"api_key":[],"data":{"cmd":"1","data":[1]},"modem_id":[5]})" },
        { "settings without codes", "setting?modem=3", "GET", {}, "read_setting",
            R"({"modem_id":[3]})" },
        { "settings by code", "setting?modem=3&code=17.0.0,DLMS", "GET", {}, "read_setting",
            R"({"modem_id":[3],"settings":["0_0_17_0_0_255_3","isDLMS"]})", "key.remote",
            { R"({"3":{"0_0_17_0_0_255_3":"x","isDLMS":1}})", R"({"4":{"13_0_0":5}})" },
            R"({"3":{"17.0.0":"x","DLMS":true},"4":{"13.0.0":5}})" },
        { "the item 2 asks the driver's own settings", "setting?modem=7,2&code=x", "GET", {},
            "custom_request", "{}", "key.remote", { R"({"a":1})", R"({"b":2})" },
            R"({"2":{"a":1,"b":2}})" },
        { "version list", "setting/version_list", "POST", R"({"modem":3})", "read_setting",
            R"({"modem_id":[3],"settings":["version"]})" },
        { "versions grouped over both instances", "setting/version_list?modem=3,4", "GET", {},
            "read_setting", R"({"modem_id":[3,4],"settings":["version"]})", "key.remote",
            { R"({"4":{"version":{"hw":"H","sw":"S1"}},"3":{"version":{"hw":"H","sw":"S2"}}})",
                R"({"x":{},"3.5":{}})" },
            R"({"hw":{"":[0,0],"H":[3,4]},"hw_size":{"":2,"H":2},"sw":{"":[0,0],"S1":[4],"S2":[3]},)"
            R"("sw_size":{"":2,"S1":1,"S2":1}})" },
        { "modem state ignores the code", "RAM/indexes?modem=3&code=1", "GET", {}, "read_setting",
            R"({"modem_id":[3]})", "key.remote",
            { R"({"3":{"dl_mode":1,"dl_time":2,"last_dl":3,"on_request":4,"data_time":5,"isDLMS":6,
                "last_bs":7,"request_depth":8,"dl_lock_to":9,"arch_day":{"d":1},"arch_profile":{"p":1},
                "arch_month":{"m":1},"arch_info_13":{"i":13},"arch_info_14":{"i":14},
                "arch_info_15":{"i":15},"arch_event0":{"e":0,"info":"old"},"arch_info_0":{"i":0},
                "arch_event11":{"e":11},"arch_event12":{"x":1},"arch_info_16":{},"xarch":1,"speed":2}})",
                "[]" },
            R"({"3":{"0_event":{"e":0,"info":{"i":0}},"10_event":{},"11_event":{"e":11},)"
            R"("13_month":{"info":{"i":13},"m":1},"14_day":{"d":1,"info":{"i":14}},)"
            R"("15_hour":{"info":{"i":15},"p":1},"1_event":{},"2_event":{},"3_event":{},)"
            R"("4_event":{},"5_event":{},"6_event":{},"7_event":{},"8_event":{},"9_event":{},)"
            R"("data_time":5,"dl_lock_to":9,"dl_mode":1,"dl_time":2,"isDLMS":6,"last_bs":7,)"
            R"("last_dl":3,"on_request":4,"request_depth":8,"settings":{"speed":2}}})" },
        { "index list", "el/modems_for_get_index?route_key=k", "GET", {}, "custom_request",
            R"({"limit":"100000","list":"req_id"})", "k",
            { R"({"req_id":[1,2]})", R"({"ids":[3]})" }, "[1,2]" },
        { "modem list", "RAM/modems", "GET", {}, "custom_request", R"({"list":"id"})", "key.remote",
            { R"({"ids":[4]})", R"({"req_id":[9]})" }, "[4]" },
        { "station load", "RAM/bs", "GET", {}, "custom_request", R"({"list":"bs_load"})",
            "key.remote", { R"({"a":1})", R"({"b":{"c":2}})" }, R"({"a":1,"b":{"c":2}})" },
        { "history of both instances", "report/history?modem=3&timefrom=5&timeto=9000&limit=1",
            "GET", {}, "get_roll_extract",
            R"({"from":5,"limit":1001,"modem_id":[3],"tag":["tornel.data_instant","tornel.data_setup",)"
            R"("tornel.data_year","tornel.data_month","tornel.data_day","tornel.data_profile"],)"
            R"("to":95400})",
            "key.remote",
            { R"({"3":[{"timestamp":100,"tag":"tornel.data_day","time_detected":1}]})",
                R"({"4":[]})" },
            R"([{"meterings":[{"1.0.0":100,"profile":"1.0.98.2.0.255","ts_get":1}],"modem":3,)"
            R"("timefrom":5,"timeto":9000},{"meterings":[],"modem":4,"timefrom":5,"timeto":9000}])" },
        { "indexes only; a start of 1 is not answered",
            "report/history?modem=3&timefrom=1&timeto=9000&index_only=true", "GET", {}, "get_roll",
            R"({"from":1,"modem_id":[3],"tag":["tornel.data_instant","tornel.data_setup",)"
            R"("tornel.data_year","tornel.data_month","tornel.data_day","tornel.data_profile"],)"
            R"("to":95400})",
            "key.remote",
            { R"({"3":[{"timestamp":100,"data":{"index_send":4}},{"timestamp":50}]})", "[]" },
            R"([{"meterings":[{"1.0.0":100,"index":4,"ts_get":0}],"modem":3,"timeto":9000}])" },
        { "events newest first; a start of 1 is not answered", "report/events", "POST",
            R"({"modem":"3","timefrom":1,"timeto":9000})", "get_roll",
            R"({"from":1,"modem_id":[3],"tag":["tornel.event"],"to":"a day past now"})",
            "key.remote",
            { R"({"3":[{"data":[{"timestamp":50,"type":2,"event":7,"96.8.0":3},{"timestamp":60,"type":2,"event":8}]}]})",
                "[]" },
            R"([{"events":[{"1.0.0":60,"96.11.2":8,"profile":"0.0.99.98.2.255"},)"
            R"({"1.0.0":50,"96.11.2":7,"96.8.0":3,"profile":"0.0.99.98.2.255"}],"modem":3,"timeto":9000}])" },
        { "information: the build time under the first key", "info", "GET", {}, "get_info", "{}",
            "key.remote", { R"({"b":{"build timestamp":7}})", R"({"a":{"build timestamp":5}})" },
            R"({"SW":{},"build_ts":5})" },
    };
    const QString custom
        = R"({"body":{},"instance":"tornel_*","modem_id":[],"query":%1,"type":"get"})";
    conf.APP_INST_COUNT = 2;
    for (const row& r : rows) {
        loop_client client(port());
        const fake_command_client::command* sent = send(client, r.target, r.method, r.body);
        ASSERT_TRUE(sent) << r.behaviour;
        EXPECT_EQ(sent->type, r.command) << r.behaviour;
        EXPECT_EQ(sent->routing_key, r.routing_key) << r.behaviour;
        QJsonObject data = sent->data;
        if (std::abs(data.value("to").toDouble() - QDateTime::currentSecsSinceEpoch() - 86400) < 60)
            data["to"] = "a day past now";
        EXPECT_EQ(compact(data),
            r.command == "custom_request" ? custom.arg(r.data).toStdString() : r.data)
            << r.behaviour;
        if (!r.answer)
            continue;
        for (int i = 0; i < r.replies.size(); ++i)
            EXPECT_EQ(sent->on_reply(json_doc(r.replies[i])), i + 1 == r.replies.size())
                << r.behaviour;
        raw_response answer;
        ASSERT_TRUE(client.read(answer)) << r.behaviour;
        QJsonDocument got = QJsonDocument::fromJson(answer.body);
        if (got.isObject() && got.object().contains("time")) { // the clock's members
            QJsonObject clockless = got.object();
            clockless.remove("time");
            clockless.remove("build_dt");
            got.setObject(clockless);
        }
        EXPECT_EQ(compact(got), r.answer) << r.behaviour;
    }
    EXPECT_EQ(request("GET", "/driver_tornel/api/cmd/send?code=1").status, 403);
}

TEST_F(tornel_road_test, a_store_failure_under_a_reply_is_answered_400)
{
    loop_client client(port());
    fake_command_client::command* sent = send(client, "cmd/send?modem=1&code=1");
    ASSERT_TRUE(sent);
    // Answered here; the link rejects the reply.
    EXPECT_THROW(
        sent->on_reply(json_doc(R"({"1":{"bd_id":"db-a"}})")), RedisClient::Connection::Exception);
    raw_response answer;
    ASSERT_TRUE(client.read(answer));
    EXPECT_EQ(answer.status, 400);
    EXPECT_EQ(answer.body, R"({"What":"Redis exception: connection lost"})");
}

// A failed read of the index map is no unknown index.
TEST_F(tornel_road_test, a_store_failure_under_a_status_read_is_answered_400)
{
    const raw_response answer = request("GET", "/driver_tornel/api/cmd/status?cmd_id=1");
    EXPECT_EQ(answer.status, 400);
    EXPECT_EQ(answer.body, R"({"What":"Redis exception: WRONGTYPE"})");
    EXPECT_TRUE(api.commands.empty());
}

// Against the shared test Redis, with the database-id hash of the index map of the wrong type:
// the first modem's registration fails after its index was counted, and the step ends there.
TEST_F(tornel_road_test, registrations_go_one_after_another_and_the_first_error_ends_them)
{
    GORVEX_NEED_REDIS();
    redis_settings settings;
    settings.HOST = "127.0.0.1";
    settings.PORT = quint32(test_services::redis_port());
    RedisClient::Connection seed(settings, 5000);
    const QList<QByteArray> clear { "DEL", "tornel_dl:index", "tornel_dl:db_id" };
    seed.command(clear, 5);
    seed.command({ "HSET", "tornel_dl:index", "last", "100" }, 5);
    seed.command({ "SET", "tornel_dl:db_id", "not a hash" }, 5);
    redis_helper redis(settings, 5000, "x86_64");
    under_test = &redis;
    conf.CHECK_TOKEN_API_KEY = false; // the ownership sets are not under test

    loop_client client(port());
    fake_command_client::command* sent = send(client, "cmd/send?modem=1,2,3,4&code=1");
    ASSERT_TRUE(sent);
    EXPECT_THROW(
        sent->on_reply(json_doc(
            R"({"1":{"bd_id":"a"},"2":{"bd_id":"b"},"3":{"bd_id":"c"},"4":{"bd_id":"d"}})")),
        RedisClient::Connection::Exception);
    raw_response answer;
    ASSERT_TRUE(client.read(answer));
    EXPECT_EQ(answer.status, 400);
    EXPECT_TRUE(answer.body.startsWith(R"({"What":"Redis exception: HSET: WRONGTYPE)"))
        << answer.body.constData();
    EXPECT_EQ(seed.command({ "HGET", "tornel_dl:index", "last" }, 5).str, "101");
    EXPECT_EQ(seed.command({ "HLEN", "tornel_dl:index" }, 5).integer, 1) << "no index stored";
    seed.command(clear, 5);
}

} // namespace
