#include "handlers/driver/tornel_params.h"

#include "router/qt_print.h"

#include <gtest/gtest.h>

namespace {

using entries = std::map<QString, QString>;

TEST(make_tornel_params, get_reads_the_query_and_post_reads_the_body)
{
    struct row
    {
        const char* behaviour;
        qhttp::THttpMethod method;
        QByteArray query;
        QByteArray body;
        entries expected;
    };
    const row rows[] = {
        { "GET takes the decoded query, not the body", qhttp::EHTTP_GET, "modem=5%2C6&code=1",
            R"({"modem":"9"})", { { "modem", "5,6" }, { "code", "1" } } },
        { "POST takes a JSON body, not the query", qhttp::EHTTP_POST, "modem=1",
            R"({"modem":5,"code":"x","on":true,"n":null,"a":[1],"o":{"k":1},"f":2.5})",
            { { "modem", "5" }, { "code", "x" }, { "on", "true" }, { "n", "" }, { "a", "" },
                { "o", "" }, { "f", "2.5" } } },
        { "POST takes a body that is no JSON as a form", qhttp::EHTTP_POST, "",
            "modem=5&code=1&bare&x=y=z", { { "modem", "5" }, { "code", "1" } } },
        { "a percent-encoded JSON body is decoded first; a plus stays", qhttp::EHTTP_POST, "",
            "%7B%22modem%22%3A%225%2B6%22%7D", { { "modem", "5+6" } } },
        { "characters beyond Latin-1 become question marks", qhttp::EHTTP_POST, "",
            "{\"value\":\"a\xd0\x96"
            "b\"}",
            { { "value", "a?b" } } },
        { "a percent sign without two hex digits stays", qhttp::EHTTP_POST, "",
            R"({"modem":"5","value":"100%"})", { { "modem", "5" }, { "value", "100%" } } },
        { "valid escapes of a form are decoded once, others kept", qhttp::EHTTP_POST, "",
            "v=%2541%4g%41 off&w=%4", { { "v", "%41%4gA off" }, { "w", "%4" } } },
        { "a top-level array gives nothing", qhttp::EHTTP_POST, "", "[1,2]", {} },
        { "a NUL ends a JSON body, as reading it as UTF-8 did", qhttp::EHTTP_POST, "",
            R"({"modem":"5"}%00{)", { { "modem", "5" } } },
        { "a NUL ends a form too", qhttp::EHTTP_POST, "", QByteArray("modem=5\0&code=1", 16),
            { { "modem", "5" } } },
        { "other methods read nothing", qhttp::EHTTP_PUT, "modem=1", "modem=2", {} },
    };
    for (const row& r : rows) {
        const QUrl url = QUrl::fromEncoded("http://h/driver_tornel/api/setting?" + r.query);
        EXPECT_EQ(make_tornel_params(r.method, url, r.body), r.expected) << r.behaviour;
    }
}

// A handler names its keys: only those are made, from a JSON body (whatever the other members
// hold: arrays nested as deep as the reader allows) and from a form alike.
TEST(make_tornel_params, only_the_named_keys_are_made)
{
    const QStringList keys { "modem", "code" };
    const QUrl url("http://h/driver_tornel/api/setting");
    const QByteArray deep = QByteArray(1000, '[') + QByteArray(1000, ']');
    EXPECT_EQ(make_tornel_params(qhttp::EHTTP_POST, url,
                  R"({"pad":)" + deep + R"(,"modem":7,"code":[1],"other":"x"})", &keys),
        (entries { { "modem", "7" }, { "code", "" } }));
    EXPECT_EQ(
        make_tornel_params(qhttp::EHTTP_POST, url, "other=1&modem=1,2&modem=3&codes=4", &keys),
        (entries { { "modem", "3" } }));
    EXPECT_EQ(make_tornel_params(qhttp::EHTTP_GET,
                  QUrl("http://h/driver_tornel/api/setting?code=5&x=6"), {}, &keys),
        (entries { { "code", "5" } }));
}

} // namespace
