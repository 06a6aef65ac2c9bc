#include "access/redis_connection.h"
#include "routes/collector_set.h"
#include "routes/road_fixture.h"

#include "router/qt_print.h"
#include "tornel_json.h"

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
                dependency_container container { conf, store, log, rabbit, &forward_owner,
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
    };
    const row rows[] = {
        { "send: a JSON value as the inner data",
            "cmd/send?modem=5,,x,7&code=9&value=%7B%22a%22%3A1%7D&route_key=", "GET", {},
            "send_dl_msg", R"({"api_key":[],"data":{"cmd":"9","data":{"a":1}},"modem_id":[5,7]})",
            "" },
        { "settings by code", "setting?modem=3&code=17.0.0,DLMS", "GET", {}, "read_setting",
            R"({"modem_id":[3],"settings":["0_0_17_0_0_255_3","isDLMS"]})" },
        { "the item 2 asks the driver's own settings", "setting?modem=7,2&code=x", "GET", {},
            "custom_request", "{}" },
        { "version list", "setting/version_list", "POST", R"({"modem":3})", "read_setting",
            R"({"modem_id":[3],"settings":["version"]})" },
        { "modem state ignores the code", "RAM/indexes?modem=3&code=1", "GET", {}, "read_setting",
            R"({"modem_id":[3]})" },
        { "index list", "el/modems_for_get_index?route_key=k", "GET", {}, "custom_request",
            R"({"limit":"100000","list":"req_id"})", "k" },
        { "station load", "RAM/bs", "GET", {}, "custom_request", R"({"list":"bs_load"})" },
    };
    const QString custom
        = R"({"body":{},"instance":"tornel_*","modem_id":[],"query":%1,"type":"get"})";
    for (const row& r : rows) {
        loop_client client(port());
        const fake_command_client::command* sent = send(client, r.target, r.method, r.body);
        ASSERT_TRUE(sent) << r.behaviour;
        EXPECT_EQ(sent->type, r.command) << r.behaviour;
        EXPECT_EQ(sent->routing_key, r.routing_key) << r.behaviour;
        EXPECT_EQ(compact(sent->data),
            r.command == "custom_request" ? custom.arg(r.data).toStdString() : r.data)
            << r.behaviour;
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

} // namespace
