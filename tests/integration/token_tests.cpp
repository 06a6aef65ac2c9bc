#include "gateway_fixture.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

using header_list = QList<QPair<QByteArray, QByteArray>>;

class token_test : public gateway_fixture
{
protected:
    void SetUp() override { start_gateway(); }
};

// "/api" on the gateway set needs a token; a request it lets through reaches the target.
TEST_F(token_test, token_is_taken_from_the_cookie_or_a_bearer_header)
{
    const QByteArray t = token(payload());
    QByteArray bad_signature = t;
    bad_signature.chop(4);
    bad_signature += "AAA=";
    QByteArray encoded_stops = t;
    encoded_stops.replace(".", "%2E");

    struct row
    {
        const char* behaviour;
        header_list headers;
        bool accepted;
    };
    const row rows[] = {
        { "a bearer header", { { "Authorization", "Bearer " + t } }, true },
        { "the scheme word in any letter case", { { "authorization", "bEARER " + t } }, true },
        { "two blanks make three words, which are ignored", { { "Authorization", "Bearer  " + t } },
            false },
        { "the token cookie", { { "Cookie", "VORNIX_JWT=" + t } }, true },
        { "the token cookie after another one", { { "Cookie", "a=1; VORNIX_JWT=" + t } }, true },
        { "percent-encoded full stops are decoded first",
            { { "Cookie", "VORNIX_JWT=" + encoded_stops } }, true },
        { "four parts are not verified", { { "Authorization", "Bearer " + t + ".x" } }, false },
        { "a signature that does not match", { { "Authorization", "Bearer " + bad_signature } },
            false },
        { "a malformed bearer token replaces a good cookie",
            { { "Cookie", "VORNIX_JWT=" + t }, { "Authorization", "Bearer a.b" } }, false },
        { "a one-word authorization leaves the cookie in place",
            { { "Cookie", "VORNIX_JWT=" + t }, { "Authorization", t } }, true },
        { "no token at all", {}, false },
    };
    for (const row& r : rows) {
        const raw_response answer = get("/api/x", r.headers);
        if (r.accepted) {
            EXPECT_EQ(answer.status, 200) << r.behaviour;
            EXPECT_EQ(answer.body, "target") << r.behaviour;
        } else {
            EXPECT_EQ(answer.status, 307) << r.behaviour;
            EXPECT_EQ(answer.body, R"({"What":"Token not valid"})") << r.behaviour;
        }
    }
}

TEST_F(token_test, refusals_answer_with_status_message_and_location)
{
    QJsonObject expired = payload();
    expired["exp"] = QDateTime::currentSecsSinceEpoch() - 10;
    QJsonObject expired_v1 = expired;
    expired_v1["ver"] = "1.0";
    auto claims_v2 = [](const QJsonObject& group) {
        return payload("2.0", "user@x", QJsonObject { { "iec104", group } });
    };
    const QJsonObject deny_get = claims_v2(QJsonObject { { "", "POST" } });
    const QJsonObject allow_get = claims_v2(QJsonObject { { "", "GET" } });
    const QJsonObject deny_beats_allow = claims_v2(QJsonObject { { "!", "" }, { "", "" } });
    const QJsonObject admin_entry = claims_v2(QJsonObject { { "admin", "" } });
    const QJsonObject v3_none = payload("3.0", "user@x",
        QJsonObject { { "k1", QJsonObject { { "iec104", QJsonObject { { "", "POST" } } } } } });
    const QJsonObject v3_one = payload("3.0", "user@x",
        QJsonObject { { "k1", QJsonObject { { "iec104", QJsonObject { { "", "POST" } } } } },
            { "k2", QJsonObject { { "iec104", QJsonObject { { "admin", "x" } } } } } });
    const QJsonObject v1 = payload("1.0", "user@x", QJsonObject { { "b", QJsonObject {} } });

    struct row
    {
        const char* behaviour;
        const char* target;
        QJsonObject payload; // empty: no token
        int status;
        QByteArray body;
        QByteArray location; // empty: no location header
    };
    const row rows[] = {
        { "no valid token", "/api/x", {}, 307, R"({"What":"Token not valid"})", "/login" },
        { "an expired 2.0 token is sent to refresh with its URL", "/api/x?q=1", expired, 307,
            R"({"What":"Token was expired"})",
            "/refresh?u=" + QByteArray("/api/x?q=1").toBase64() },
        { "an expired token of another version is sent to log in", "/api/x", expired_v1, 307,
            R"({"What":"Token was expired"})", "/login" },
        { "2.0 rights that do not name the method", "/iec104/api/x", deny_get, 403,
            R"({"What":"Not allowed method. Token version 2.0."})", {} },
        { "2.0 rights that name the method", "/iec104/api/x", allow_get, 200, "target", {} },
        { "a deny entry beats an allow entry", "/iec104/api/x", deny_beats_allow, 403,
            R"({"What":"Not allowed method. Token version 2.0."})", {} },
        { "an admin entry allows what nothing decides", "/iec104/api/x", admin_entry, 200, "target",
            {} },
        { "3.0 rights no key of which allows the call", "/iec104/api/x", v3_none, 403,
            R"({"What":"Not allowed method. Token version 3.0."})", {} },
        { "3.0 rights one key of which allows the call", "/iec104/api/x", v3_one, 200, "target",
            {} },
        { "another version is not checked for rights", "/iec104/api/x", v1, 200, "target", {} },
        { "a handler that needs no token", "/auth/login", {}, 200, "target", {} },
    };
    for (const row& r : rows) {
        header_list headers;
        if (!r.payload.isEmpty())
            headers << bearer(token(r.payload));
        const raw_response answer = get(r.target, headers);
        EXPECT_EQ(answer.status, r.status) << r.behaviour;
        EXPECT_EQ(answer.body, r.body) << r.behaviour;
        if (r.location.isEmpty()) {
            EXPECT_EQ(answer.index_of("location"), -1) << r.behaviour;
        } else {
            EXPECT_EQ(answer.header("location"), r.location) << r.behaviour;
            EXPECT_LT(answer.index_of("location"), answer.index_of("content-type")) << r.behaviour;
        }
        if (r.status != 200) {
            EXPECT_EQ(answer.header("content-type"), "application/json") << r.behaviour;
        }
    }
}

TEST_F(gateway_fixture, without_the_validity_check_a_missing_token_counts_as_expired)
{
    start_gateway({ { "GENERAL_SETTINGS/CHECK_TOKEN_VALID", "DISABLE" } });
    const raw_response answer = get("/api/x");
    EXPECT_EQ(answer.status, 307);
    EXPECT_EQ(answer.body, R"({"What":"Token was expired"})");
    EXPECT_EQ(answer.header("location"), "/login");
}

} // namespace
