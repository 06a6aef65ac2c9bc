#include "routes/collector_set.h"
#include "routes/road_fixture.h"
#include "routes/server_set.h"

#include <QJsonArray>

// The telecom routes on the in-process road with a scripted AMQP link: where each path goes,
// what command leaves, the paging rule and the answers of unserved methods.

namespace {

const char* const telecom_tails[] = { "stats", "publishall", "time_sync_unlock", "messages",
    "stinfo", "ststats", "sthistory", "bs", "device", "deletemessage", "deletedevice",
    "deletestation", "send_dl", "dl_messages", "dl_message_status", "devsnr", "clients" };

class telecom_handler_test : public road_fixture
{
protected:
    void SetUp() override
    {
        conf.CHECK_TOKEN_VALID = false;
        conf.CHECK_TOKEN_EXP_TIME = false;
        conf.R_SERSOFT_ROUTE_KEY = "key.sersoft";
        conf.R_SERSOFT_USPD_ROUTE_KEY = "key.uspd";
        start<server_set>();
    }

    // The command the request sent, answered by `replies` in turn; the HTTP answer.
    raw_response exchange(const QByteArray& method, const QByteArray& target,
        const std::vector<QByteArray>& replies = {}, const QByteArray& body = {})
    {
        api.commands.clear();
        loop_client client(port());
        client.send_request(method, target, {}, body);
        raw_response answer;
        if (!wait_until([this] { return !api.commands.empty(); }, 3000)) {
            client.read(answer, 3000);
            return answer;
        }
        for (const QByteArray& reply : replies)
            api.commands.front().on_reply(QJsonDocument::fromJson(reply));
        client.read(answer, 3000);
        return answer;
    }
};

TEST_F(telecom_handler_test, every_path_is_routed_to_its_own_command_and_key)
{
    for (const char* tail : telecom_tails) {
        const QString path = QStringLiteral("/telecom/api/") + tail;
        EXPECT_EQ(server_set::match_handler(path).handler_path, path);
        EXPECT_EQ(collector_set::match_handler(path + "?x").handler_path, path);
        EXPECT_TRUE(collector_set::match_handler(path).need_token);
    }
    for (const char* uspd :
        { "/telecom/api/send_dl_uspd", "/telecom/api/dl_message_status_uspd" }) {
        EXPECT_EQ(server_set::match_handler(uspd).handler_path, uspd);
        EXPECT_NE(collector_set::match_handler(uspd).handler_path, uspd);
    }
    EXPECT_EQ(server_set::match_handler("/statistic").handler_path, "/statistic");
    EXPECT_FALSE(collector_set::find_handler("/statistic"));

    struct row
    {
        QByteArray method;
        QByteArray target;
        QString type;
        QString key;
    };
    const row rows[] = {
        { "GET", "/telecom/api/bs", "bs", "key.sersoft" },
        { "POST", "/telecom/api/bs", "bs_write", "key.sersoft" },
        { "POST", "/telecom/api/device", "device_write", "key.sersoft" },
        { "GET", "/telecom/api/send_dl_uspd", "send_dl", "key.uspd" },
        { "POST", "/telecom/api/dl_message_status_uspd", "dl_message_status", "key.uspd" },
    };
    for (const row& r : rows) {
        exchange(r.method, r.target, { "{}" });
        ASSERT_EQ(api.commands.size(), 1u) << r.target.constData();
        EXPECT_EQ(api.commands[0].type, r.type);
        EXPECT_EQ(api.commands[0].routing_key, r.key);
    }
}

TEST_F(telecom_handler_test, device_pages_are_shared_out_between_the_instances)
{
    struct row
    {
        const char* behaviour;
        int instances;
        QByteArray query;
        int status;
        QJsonObject data; // without "api_key"; or the refusal's {"What"}
    };
    const row rows[] = {
        { "halved for two", 2, "limit=64&offset=32", 200, { { "limit", 32 }, { "offset", 16 } } },
        { "truncated toward zero for three", 3, "limit=64&offset=32", 200,
            { { "limit", 21 }, { "offset", 10 } } },
        { "a negative multiple passes", 2, "limit=-32", 200, { { "limit", -16 } } },
        { "zero passes", 2, "limit=0", 200, { { "limit", 0 } } },
        { "an offset without a limit is untouched", 2, "offset=33", 200, { { "offset", 33 } } },
        { "a misread instance count divides by one", 0, "limit=64&offset=32", 200,
            { { "limit", 64 }, { "offset", 32 } } },
        { "limit tested first", 2, "limit=33&offset=33", 406,
            { { "What", "limit should be divisible by 32" } } },
        { "then offset", 2, "limit=64&offset=33", 406,
            { { "What", "offset should be divisible by 32" } } },
    };
    for (const row& r : rows) {
        conf.SERSOFT_INST_COUNT = r.instances;
        std::vector<QByteArray> replies(std::size_t(std::max(r.instances, 1)), "[]");
        const QByteArray target = "/telecom/api/device?" + r.query;
        api.commands.clear();
        const raw_response answer
            = r.status == 200 ? exchange("GET", target, replies) : request("GET", target);
        EXPECT_EQ(answer.status, r.status) << r.behaviour;
        if (r.status != 200) {
            EXPECT_TRUE(api.commands.empty()) << r.behaviour;
            EXPECT_EQ(QJsonDocument::fromJson(answer.body).object(), r.data) << r.behaviour;
            continue;
        }
        ASSERT_EQ(api.commands.size(), 1u) << r.behaviour;
        QJsonObject data = api.commands[0].data;
        data.remove("api_key");
        EXPECT_EQ(data, r.data) << r.behaviour;
    }
}

TEST_F(telecom_handler_test, answers_once_its_rule_completes)
{
    conf.SERSOFT_INST_COUNT = 2;
    struct row
    {
        const char* behaviour;
        QByteArray method;
        QByteArray target;
        std::vector<QByteArray> replies;
        QByteArray answer;
    };
    const row rows[] = {
        { "device GET merges both replies", "GET", "/telecom/api/device", { "[1]", "[2]" },
            "[1,2]" },
        { "device POST waits for the second", "POST", "/telecom/api/device", { "[1]", "[2]" },
            "[2]" },
        { "the _uspd route takes the first", "GET", "/telecom/api/send_dl_uspd", { "{}" }, "{}" },
        { "a late reply changes nothing", "GET", "/telecom/api/bs", { R"({"a":1})", R"({"b":2})" },
            R"({"a":1})" },
    };
    for (const row& r : rows) {
        const raw_response answer = exchange(r.method, r.target, r.replies);
        EXPECT_EQ(answer.status, 200) << r.behaviour;
        EXPECT_EQ(answer.body, r.answer) << r.behaviour;
    }
}

TEST_F(telecom_handler_test, unserved_methods_are_refused_before_anything_is_sent)
{
    const std::pair<QByteArray, QString> rows[]
        = { { "PUT", "" }, { "DELETE", "" }, { "PATCH", "method not found" } };
    for (const auto& [method, what] : rows) {
        const raw_response answer = request(method, "/telecom/api/bs");
        EXPECT_EQ(answer.status, 404) << method.constData();
        EXPECT_EQ(QJsonDocument::fromJson(answer.body).object(), QJsonObject({ { "What", what } }));
        EXPECT_TRUE(api.commands.empty());
    }
}

} // namespace
