#include "road_fixture.h"
#include "router/access_bs.h"
#include "router/forward_handlers.h"
#include "test_handlers.h"
#include "test_token.h"

#include <QJsonArray>

namespace {

using test_set = handler_set<EchoHandler, ShortPrefixHandler, GetOnlyHandler, ThrowHandler,
    KeysHandler, AccessBS, ApiForwardHandler, AuthForwardHandler>;

QJsonObject json_of(const raw_response& r)
{
    return QJsonDocument::fromJson(r.body).object();
}

class dispatch_test : public road_fixture
{
protected:
    void SetUp() override
    {
        conf.CHECK_TOKEN_VALID = false;
        conf.CHECK_TOKEN_EXP_TIME = false;
        start<test_set>();
    }
};

struct method_case
{
    const char* behaviour;
    const char* method;
    const char* target;
    int status;
    const char* body;
};

class method_answer_test : public dispatch_test, public ::testing::WithParamInterface<method_case>
{ };

TEST_P(method_answer_test, answers)
{
    const method_case& c = GetParam();
    const raw_response r = request(c.method, c.target);
    EXPECT_EQ(r.status, c.status) << c.behaviour;
    EXPECT_EQ(r.body, QByteArray(c.body)) << c.behaviour;
    if (c.status == 404) {
        EXPECT_EQ(r.header("content-type"), "application/json") << c.behaviour;
    }
}

INSTANTIATE_TEST_SUITE_P(rows, method_answer_test,
    ::testing::Values(method_case { "no handler for the path", "GET", "/nothing", 404,
                          R"({"What":"handler not found"})" },
        method_case { "paths match case-sensitively", "GET", "/T/echo", 404,
            R"({"What":"handler not found"})" },
        method_case {
            "a shorter prefix takes what a longer one leaves", "GET", "/t/ex", 200, "short" },
        method_case { "a path given by a function", "GET", "/t/get/x", 200, "got" },
        method_case { "PUT is not served", "PUT", "/t/echo", 404, R"({"What":""})" },
        method_case { "DELETE is not served", "DELETE", "/t/echo", 404, R"({"What":""})" },
        method_case { "other methods are not found", "OPTIONS", "/t/echo", 404,
            R"({"What":"method not found"})" },
        method_case { "POST of a GET-only handler", "POST", "/t/get", 404, R"({"What":""})" },
        method_case {
            "/api/access/bs serves no GET", "GET", "/api/access/bs", 404, R"({"What":""})" },
        method_case {
            "/api/access/bs serves no POST", "POST", "/api/access/bs", 404, R"({"What":""})" },
        method_case {
            "/api/access/bs serves no PUT", "PUT", "/api/access/bs", 404, R"({"What":""})" },
        method_case {
            "/api/access/bs serves no DELETE", "DELETE", "/api/access/bs", 404, R"({"What":""})" },
        method_case { "/api/access/bs, another method", "PATCH", "/api/access/bs", 404,
            R"({"What":"method not found"})" },
        method_case { "a GET/POST forward refuses PUT", "PUT", "/api/x", 404, R"({"What":""})" },
        method_case {
            "a GET/POST forward refuses DELETE", "DELETE", "/api/x", 404, R"({"What":""})" },
        method_case { "a GET/POST forward, another method", "PATCH", "/api/x", 404,
            R"({"What":"method not found"})" },
        method_case { "the login forward, another method", "OPTIONS", "/auth", 404,
            R"({"What":"method not found"})" }));

TEST_F(dispatch_test, parameters_are_the_named_query_items_and_the_body)
{
    struct row
    {
        const char* behaviour;
        const char* method;
        const char* target;
        QByteArray body;
        QJsonObject expected;
    };
    const row rows[] = {
        { "a name given twice keeps its last value; an empty value is present", "GET",
            "/t/echo?a=1&a=2&b=", {},
            QJsonObject { { "op", "get" }, { "a", "2" }, { "b", "" }, { "route", "default" },
                { "body", "" }, { "leftover", QJsonObject {} } } },
        { "items are matched after decoding, by exact name; others are left over", "GET",
            "/t/echo?%61=x%20y&A=3&c=4", {},
            QJsonObject { { "op", "get" }, { "a", "x y" }, { "b", QJsonValue() },
                { "route", "default" }, { "body", "" },
                { "leftover", QJsonObject { { "A", "3" }, { "c", "4" } } } } },
        { "an empty route_key overrides the default", "POST", "/t/echo?route_key=", "raw body",
            QJsonObject { { "op", "post" }, { "a", QJsonValue() }, { "b", QJsonValue() },
                { "route", "" }, { "body", "raw body" }, { "leftover", QJsonObject {} } } },
    };
    for (const row& r : rows) {
        const raw_response answer = request(r.method, r.target, {}, r.body);
        EXPECT_EQ(answer.status, 200) << r.behaviour;
        EXPECT_EQ(json_of(answer), r.expected) << r.behaviour << "\n" << answer.body.constData();
    }
}

TEST_F(dispatch_test, failures_map_to_one_json_answer)
{
    struct row
    {
        const char* behaviour;
        const char* kind;
        int status;
        const char* what;
        const char* location;
        const char* log;
    };
    const row rows[] = {
        { "a handler's http_exception keeps its status", "teapot", 418, "short and stout", nullptr,
            "TStatusCode::418" },
        { "a 307 carries its location before the content type", "redirect", 307, "go there",
            "/there?x=1", "TStatusCode::ESTATUS_TEMPORARY_REDIRECT" },
        { "a Redis failure is a 400", "redis", 400, "Redis exception: connection refused", nullptr,
            nullptr },
        { "anything else is a 400", "other", 400, "Catched unknown error.", nullptr, nullptr },
    };
    for (const row& r : rows) {
        const raw_response answer = request("GET", QByteArray("/t/throw?kind=") + r.kind);
        EXPECT_EQ(answer.status, r.status) << r.behaviour;
        EXPECT_EQ(json_of(answer), QJsonObject({ { "What", r.what } })) << r.behaviour;
        EXPECT_EQ(answer.header("content-type"), "application/json") << r.behaviour;
        if (r.location) {
            EXPECT_EQ(answer.header("location"), r.location) << r.behaviour;
            EXPECT_LT(answer.index_of("location"), answer.index_of("content-type")) << r.behaviour;
        } else {
            EXPECT_EQ(answer.index_of("location"), -1) << r.behaviour;
        }
        if (r.log) {
            EXPECT_TRUE(log_text().contains(r.log)) << r.behaviour;
        }
        EXPECT_EQ(newest().status, WAIT) << r.behaviour;
    }
}

TEST_F(dispatch_test, every_request_is_logged_counted_and_closed)
{
    const raw_response answer = request("GET", "/t/echo?a=%5B1");
    ASSERT_EQ(answer.status, 200);
    EXPECT_FALSE(answer.header("content-security-policy").isEmpty());
    EXPECT_EQ(answer.header_count("Access-Control-Allow-Origin"), 0);
    EXPECT_EQ(newest().status, EXECUTED);
    EXPECT_EQ(newest().url, "/t/echo?a=%5B1");
    ASSERT_TRUE(wait_until(
        [this] { return log_text().contains("Request destroyed and response canceled"); }));
    const QByteArray text = log_text();
    EXPECT_TRUE(text.contains(": Start process request /t/echo?a=%5B1\r\n"));
    EXPECT_TRUE(text.contains("method: GET url: /t/echo?a=%5B1 handled by: "));
    EXPECT_TRUE(text.contains("Token is invalid"));
    EXPECT_TRUE(text.contains("Invoke method: 11EchoHandler 1\r\n"));

    request("GET", "/nothing");
    EXPECT_EQ(newest().status, WAIT);
    EXPECT_EQ(statistics.value(QString()).count_request, 2);
}

// The router lives as long as its request and no longer: a request whose body never came is
// never processed and leaves no line when it goes; one processed leaves exactly one.
TEST_F(dispatch_test, a_request_gone_before_its_body_leaves_no_trace)
{
    const char* gone = "Request destroyed and response canceled";
    {
        loop_client client(port());
        ASSERT_TRUE(client.connected());
        client.send("POST /t/echo HTTP/1.1\r\nContent-Length: 10\r\n\r\nabc");
        ASSERT_TRUE(wait_until([this] { return log_text().contains("Start process request"); }));
        client.abort();
    }
    // Two later requests give the loop time to release the first.
    ASSERT_EQ(request("GET", "/nothing").status, 404);
    ASSERT_EQ(request("GET", "/nothing").status, 404);
    ASSERT_TRUE(wait_until([&] { return log_text().count(gone) >= 2; }));
    EXPECT_EQ(log_text().count(gone), 2);
    EXPECT_EQ(statistics.value(QString()).count_request, 2) << "only the complete requests";
}

TEST_F(dispatch_test, access_header_follows_the_switch)
{
    conf.ACCESS_HEADER = true;
    const raw_response answer = request("GET", "/nothing");
    EXPECT_EQ(answer.header("Access-Control-Allow-Origin"), "*");
    EXPECT_FALSE(answer.header("content-security-policy").isEmpty());
}

class token_context_test : public road_fixture
{
protected:
    void SetUp() override
    {
        conf.SIGN_KEY = "test-key";
        start<test_set>();
    }
    raw_response keys_with(const QJsonObject& payload)
    {
        const QByteArray token = make_token(payload, "test-key");
        return request("GET", "/t/keys", { { "Authorization", "Bearer " + token } });
    }
    static qint64 tomorrow() { return QDateTime::currentSecsSinceEpoch() + 86400; }
};

TEST_F(token_context_test, handlers_see_only_the_keys_whose_rights_allow_the_call)
{
    struct row
    {
        const char* behaviour;
        QJsonObject payload;
        int status;
        QByteArray body;
    };
    const QJsonObject rights_v3 {
        { "k1",
            QJsonObject { { "b", QJsonObject { { "user", "" } } },
                { "t", QJsonObject { { "keys", "GET" } } } } },
        { "k2", QJsonObject { { "t", QJsonObject { { "keys", "POST" } } } } },
        { "k3", QJsonObject { { "t", QJsonObject { { "!keys", "" }, { "keys", "" } } } } },
    };
    const row rows[] = {
        { "a 3.0 token: only the allowing keys reach the handler",
            QJsonObject { { "ver", "3.0" }, { "exp", tomorrow() }, { "claims", rights_v3 } }, 200,
            R"(["k1"])" },
        { "a 3.0 token no key of which allows the call is refused",
            QJsonObject { { "ver", "3.0" }, { "exp", tomorrow() },
                { "claims", QJsonObject { { "k2", rights_v3["k2"] } } } },
            403, R"({"What":"Not allowed method. Token version 3.0."})" },
        { "a 2.0 token keeps its own key list",
            QJsonObject { { "ver", "2.0" }, { "exp", tomorrow() },
                { "apiKeys", QJsonArray { "a", "b" } },
                { "claims", QJsonObject { { "t", QJsonObject { { "keys", "" } } } } } },
            200, R"(["a","b"])" },
    };
    for (const row& r : rows) {
        const raw_response answer = keys_with(r.payload);
        EXPECT_EQ(answer.status, r.status) << r.behaviour;
        EXPECT_EQ(answer.body, r.body) << r.behaviour;
    }
}

} // namespace
