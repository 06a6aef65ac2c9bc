#include "access/redis_connection.h"
#include "routes/collector_set.h"
#include "routes/road_fixture.h"
#include "routes/server_set.h"

#include "router/qt_print.h"
#include "tornel_json.h"

// The meter-driver paths driven through the collector's real road with a scripted AMQP link and
// a download-index map kept in memory.

namespace {

// Hands out the indexes 41, 42, ... for the ids registered; fails like a lost Redis on demand.
class dl_store : public null_access
{
public:
    int register_dl_index(QString db_id) override
    {
        if (fail)
            throw RedisClient::Connection::Exception("connection lost");
        ids << db_id;
        return 40 + ids.size();
    }
    int dl_index_of(QString db_id) override
    {
        return ids.contains(db_id) ? 41 + ids.indexOf(db_id) : 0;
    }
    QString dl_db_id_of(int index) override { return ids.value(index - 41); }

    QStringList ids;
    bool fail = false;
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
                dependency_container container { conf, store, log, rabbit, &forward_owner,
                    statistics, api };
                router_for_t<dependency_container, collector_set>::route(
                    container, request, response);
            }));
    }

    // Sends one request and waits for its command.
    fake_command_client::command* send(loop_client& client, const QByteArray& method,
        const QByteArray& target, const QByteArray& body = {})
    {
        api.commands.clear();
        client.send_request(method, target, {}, body);
        if (!wait_until([this] { return !api.commands.empty(); }))
            return nullptr;
        return &api.commands.front();
    }

    dl_store store;
};

const char* const paths[] = { "cmd/send", "cmd/status", "setting/version_list", "setting",
    "report/history", "report/events", "el/modems_for_get_index", "RAM/indexes", "RAM/modems",
    "RAM/bs", "info" };

TEST_F(tornel_road_test, both_sets_route_every_path_to_itself_and_only_info_goes_without_token)
{
    for (const char* tail : paths) {
        const QString path = QStringLiteral("/driver_tornel/api/") + tail;
        for (const route_match& match : { collector_set::match_handler(path + "?x=1"),
                 server_set::match_handler(path + "?x=1") }) {
            EXPECT_EQ(match.handler_path, path);
            EXPECT_EQ(match.need_token, path != "/driver_tornel/api/info") << tail;
        }
    }
    conf.CHECK_TOKEN_VALID = true;
    EXPECT_EQ(request("GET", "/driver_tornel/api/RAM/bs").status, 307);
    EXPECT_TRUE(api.commands.empty());
    loop_client client(port());
    ASSERT_TRUE(send(client, "GET", "/driver_tornel/api/info"));
    EXPECT_EQ(api.commands.front().type, "get_info");
}

TEST_F(tornel_road_test, refusals_are_answered_before_anything_is_sent)
{
    struct row
    {
        QByteArray method;
        QByteArray target;
        QByteArray body;
        int status;
        QString what;
    };
    const row rows[] = {
        { "GET", "cmd/send?code=1", {}, 403, "Too few arguments" },
        { "POST", "cmd/send?modem=1&code=1", R"({"modem":"1"})", 403, "Too few arguments" },
        { "GET", "cmd/status", {}, 403, "Too few arguments" },
        { "GET", "setting/version_list?code=1", {}, 403, "Too few arguments" },
        { "POST", "setting", "code=1", 403, "Too few arguments" },
        { "GET", "report/history?profile=1", {}, 403, "Too few arguments" },
        { "GET", "report/events", {}, 403, "Too few arguments" },
        { "GET", "RAM/indexes?code=1", {}, 403, "Too few arguments" },
        { "GET", "cmd/status?cmd_id=41,x", {}, 403, "Unknown cmd_id: 41" },
        { "PUT", "cmd/send?modem=1&code=1", {}, 404, "" },
        { "DELETE", "setting?modem=1", {}, 404, "" },
        { "PATCH", "report/events?modem=1", {}, 404, "method not found" },
        { "POST", "RAM/bs", "{}", 404, "" },
        { "POST", "info", "{}", 404, "" },
        { "PUT", "el/modems_for_get_index", {}, 404, "" },
    };
    for (const row& r : rows) {
        const raw_response answer = request(r.method, "/driver_tornel/api/" + r.target, {}, r.body);
        EXPECT_EQ(answer.status, r.status) << r.method.constData() << " " << r.target.constData();
        EXPECT_EQ(
            QJsonDocument::fromJson(answer.body).object(), QJsonObject({ { "What", r.what } }))
            << r.target.constData();
    }
    EXPECT_TRUE(api.commands.empty());
}

TEST_F(tornel_road_test, requests_become_one_driver_command)
{
    store.ids = QStringList { "db-a", "db-b" };
    struct row
    {
        const char* behaviour;
        QByteArray method;
        QByteArray target;
        QByteArray body;
        QString command;
        const char* data;
        QString routing_key = "key.remote";
    };
    const char* const custom = R"({"body":{},"instance":"tornel_*","modem_id":[],"query":%1,)"
                               R"("type":"get"})";
    const row rows[] = {
        { "send: a JSON value as the inner data, the caller's keys", "GET",
            "cmd/send?modem=5,,x,7&code=9&value=%7B%22a%22%3A1%7D&route_key=", {}, "send_dl_msg",
            R"({"api_key":[],"data":{"cmd":"9","data":{"a":1}},"modem_id":[5,7]})", "" },
        { "send: text that is no JSON as it came, from a form body", "POST", "cmd/send?code=2",
            "modem=5&code=1&value=abc", "send_dl_msg",
            R"({"api_key":[],"data":{"cmd":"1","data":"abc"},"modem_id":[5]})" },
        { "send: a JSON body with a number, no value", "POST", "cmd/send",
            R"({"modem":5,"code":"1"})", "send_dl_msg",
            R"({"api_key":[],"data":{"cmd":"1"},"modem_id":[5]})" },
        { "status: the indexes become database ids", "GET", "cmd/status?cmd_id=42,41", {},
            "status_dl_msg", R"({"db_id":["db-b","db-a"]})" },
        { "version list", "GET", "setting/version_list?modem=3", {}, "read_setting",
            R"({"modem_id":[3],"settings":["version"]})" },
        { "settings by code", "GET", "setting?modem=3&code=17.0.0,DLMS", {}, "read_setting",
            R"({"modem_id":[3],"settings":["0_0_17_0_0_255_3","isDLMS"]})" },
        { "the modem item 2 asks the driver's own settings", "GET", "setting?modem=7,2&code=x", {},
            "custom_request", "{}" },
        { "history", "GET", "report/history?modem=3&timefrom=100&timeto=200&index_only=true", {},
            "get_roll", nullptr },
        { "events", "POST", "report/events", R"({"modem":"3","timefrom":"100000"})", "get_roll",
            nullptr },
        { "modem state: the code is not used", "GET", "RAM/indexes?modem=3&code=1", {},
            "read_setting", R"({"modem_id":[3]})" },
        { "modems for the index list", "GET", "el/modems_for_get_index?route_key=k", {},
            "custom_request", R"({"limit":"100000","list":"req_id"})", "k" },
        { "modems", "GET", "RAM/modems", {}, "custom_request", R"({"list":"id"})" },
        { "station load", "GET", "RAM/bs", {}, "custom_request", R"({"list":"bs_load"})" },
        { "collector information", "GET", "info", {}, "get_info", "{}" },
    };
    for (const row& r : rows) {
        loop_client client(port());
        const fake_command_client::command* sent
            = send(client, r.method, "/driver_tornel/api/" + r.target, r.body);
        ASSERT_TRUE(sent) << r.behaviour;
        EXPECT_EQ(sent->type, r.command) << r.behaviour;
        EXPECT_EQ(sent->routing_key, r.routing_key) << r.behaviour;
        if (!r.data)
            continue; // the reports' data are the request builders' own tables
        const std::string data
            = r.command == "custom_request" ? QString(custom).arg(r.data).toStdString() : r.data;
        EXPECT_EQ(compact(sent->data), data) << r.behaviour;
    }
}

TEST_F(tornel_road_test, replies_are_rewritten_once_every_instance_has_answered)
{
    conf.APP_INST_COUNT = 2;
    store.ids = QStringList { "db-a" };
    struct row
    {
        const char* behaviour;
        QByteArray target;
        const char* first;
        const char* second;
        const char* answer;
    };
    const row rows[] = {
        { "send registers each database id; none registers nothing", "cmd/send?modem=1&code=1",
            R"({"1":{"bd_id":"db-b","x":1}})", R"({"2":{},"3":{"bd_id":"db-c"}})",
            R"({"cmd_id":{"1":42,"2":0,"3":43}})" },
        { "status answers by index", "cmd/status?cmd_id=41",
            R"({"db-a":{"dl_status":"EXECUTED"},"db-b":{"dl_status":"TIMEOUT"}})",
            R"({"db-c":{"dl_status":"QUEUED"},"db-x":{}})",
            R"({"0":"","41":"DONE","42":"FAILED","43":"QUEUED"})" },
        { "the driver's own settings under 2", "setting?modem=2", R"({"a":1})", R"({"b":2})",
            R"({"2":{"a":1,"b":2}})" },
        { "the index list as an array", "el/modems_for_get_index", R"({"req_id":[1]})",
            R"({"other":1})", "[1]" },
        { "the modem list as an array, empty when missing", "RAM/modems", R"({"ids":[1]})",
            R"({"ids":"x"})", "[]" },
        { "station load merged", "RAM/bs", R"({"a":1})", R"({"b":2})", R"({"a":1,"b":2})" },
    };
    for (const row& r : rows) {
        loop_client client(port());
        fake_command_client::command* sent = send(client, "GET", "/driver_tornel/api/" + r.target);
        ASSERT_TRUE(sent) << r.behaviour;
        EXPECT_FALSE(sent->on_reply(json_doc(r.first))) << r.behaviour;
        EXPECT_TRUE(sent->on_reply(json_doc(r.second))) << r.behaviour;
        raw_response answer;
        ASSERT_TRUE(client.read(answer)) << r.behaviour;
        EXPECT_EQ(answer.status, 200) << r.behaviour;
        EXPECT_EQ(answer.body.toStdString(), r.answer) << r.behaviour;
    }
}

TEST_F(tornel_road_test, a_store_failure_under_a_reply_is_answered_400_and_hands_out_nothing)
{
    loop_client client(port());
    fake_command_client::command* sent
        = send(client, "GET", "/driver_tornel/api/cmd/send?modem=1&code=1");
    ASSERT_TRUE(sent);
    store.fail = true;
    EXPECT_TRUE(sent->on_reply(json_doc(R"({"1":{"bd_id":"db-a"}})")));
    raw_response answer;
    ASSERT_TRUE(client.read(answer));
    EXPECT_EQ(answer.status, 400);
    EXPECT_EQ(answer.body, R"({"What":"Redis exception: connection lost"})");
    EXPECT_TRUE(store.ids.isEmpty());
}

} // namespace
