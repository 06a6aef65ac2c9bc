#include "http/qhttp_wire.h"

#include <gtest/gtest.h>

using namespace qhttp;

namespace {

THeaderList list(std::initializer_list<std::pair<const char*, const char*>> items)
{
    THeaderList headers;
    for (const auto& item : items)
        headers.add(item.first, item.second);
    return headers;
}

} // namespace

TEST(HeaderList, SetReplacesInPlaceWithoutRegardToCaseAndDropsDuplicates)
{
    THeaderList h
        = list({ { "A", "1" }, { "content-type", "x" }, { "B", "2" }, { "Content-Type", "y" } });
    h.set("CONTENT-TYPE", "z");
    ASSERT_EQ(h.items().size(), 3);
    EXPECT_EQ(h.items()[1], qMakePair(QByteArray("CONTENT-TYPE"), QByteArray("z")));
    EXPECT_EQ(h.value("content-type"), "z");
    h.set("C", "3");
    EXPECT_EQ(h.items().last().first, "C");
    h.remove("a");
    EXPECT_FALSE(h.has("A"));
    EXPECT_TRUE(h.value("missing").isEmpty());
}

struct AnswerCase
{
    const char* behaviour;
    int status;
    THeaderList headers;
    QByteArray body;
    bool head;
    wire::connection_note note;
    QByteArray expected;
};

class AnswerBytes : public ::testing::TestWithParam<AnswerCase>
{ };

TEST_P(AnswerBytes, Layout)
{
    const AnswerCase& c = GetParam();
    EXPECT_EQ(wire::answer_bytes(c.status, c.headers, c.body, c.head, c.note), c.expected)
        << c.behaviour;
}

INSTANTIATE_TEST_SUITE_P(Wire, AnswerBytes,
    ::testing::Values(
        AnswerCase { "length added after the caller's headers, in their order", 200,
            list({ { "B", "2" }, { "a", "1" } }), "xyz", false, wire::connection_note::none,
            "HTTP/1.1 200 OK\r\nB: 2\r\na: 1\r\nContent-Length: 3\r\n\r\nxyz" },
        AnswerCase { "caller's length replaced in place, duplicates dropped", 404,
            list({ { "content-length", "99" }, { "X", "y" }, { "Content-Length", "1" } }), "ab",
            false, wire::connection_note::none,
            "HTTP/1.1 404 Not Found\r\ncontent-length: 2\r\nX: y\r\n\r\nab" },
        AnswerCase { "HEAD keeps the length of the body it does not carry", 200, {}, "hello", true,
            wire::connection_note::none, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n" },
        AnswerCase { "chunked framing of a relayed answer is dropped: the body goes out whole", 200,
            list({ { "Transfer-Encoding", "chunked" } }), "ab", false, wire::connection_note::none,
            "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nab" },
        AnswerCase { "CR/LF in a value cannot start a header of its own", 307,
            list({ { "location", "/x\r\nSet-Cookie: a=b" } }), "", false,
            wire::connection_note::none,
            "HTTP/1.1 307 Temporary Redirect\r\nlocation: /x  Set-Cookie: a=b\r\n"
            "Content-Length: 0\r\n\r\n" },
        AnswerCase { "closing is announced", 400, {}, "", false, wire::connection_note::close,
            "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n" },
        AnswerCase { "HTTP/1.0 keep-alive is confirmed", 200, {}, "", false,
            wire::connection_note::keep_alive,
            "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: keep-alive\r\n\r\n" },
        AnswerCase { "204 has neither length nor body", 204, list({ { "Content-Length", "3" } }),
            "abc", false, wire::connection_note::none, "HTTP/1.1 204 No Content\r\n\r\n" },
        AnswerCase { "304 keeps the length of what it stands for", 304,
            list({ { "ETag", "\"x\"" }, { "content-length", "5" } }), "", false,
            wire::connection_note::none,
            "HTTP/1.1 304 Not Modified\r\nETag: \"x\"\r\ncontent-length: 5\r\n\r\n" },
        AnswerCase { "304 without a length is given none", 304, {}, "", false,
            wire::connection_note::none, "HTTP/1.1 304 Not Modified\r\n\r\n" },
        AnswerCase { "unknown code: empty reason phrase", 299, {}, "", false,
            wire::connection_note::none, "HTTP/1.1 299 \r\nContent-Length: 0\r\n\r\n" }));

TEST(Wire, RequestUrlKeepsTheTargetAsSent)
{
    struct Case
    {
        const char* behaviour;
        QByteArray target;
        QString text; // toString()
        QString decoded_path; // path(FullyDecoded)
        QString query; // query(), empty when none
    };
    const Case cases[] = {
        { "encoded blank decoded in the path", "/a%20b?x=1", "/a b?x=1", "/a b", "x=1" },
        { "encoded ampersand stays encoded in the query", "/q?a=1%262", "/q?a=1%262", "/q",
            "a=1%262" },
        { "encoded slash decodes only in the fully decoded path", "/a%2Fb", "/a%2Fb", "/a/b", "" },
        { "absolute form keeps only path and query", "http://example.org:81/p?x", "/p?x", "/p",
            "x" },
        { "a path of two slashes is not taken for a host", "//host/p", "", "//host/p", "" },
        { "asterisk form", "*", "*", "*", "" },
    };
    for (const Case& c : cases) {
        const QUrl url = wire::request_url(c.target);
        EXPECT_EQ(url.toString(), c.text) << c.behaviour;
        EXPECT_EQ(url.path(QUrl::FullyDecoded), c.decoded_path) << c.behaviour;
        EXPECT_EQ(url.query(), c.query) << c.behaviour;
        EXPECT_FALSE(url.toString().startsWith("http:")) << c.behaviour;
    }
}

TEST(Wire, RequestTargetNeverCarriesRawControlBytes)
{
    QUrl url(QStringLiteral("http://127.0.0.1:8080"));
    url.setPath(QStringLiteral("/a b\r\nX-Injected: 1"), QUrl::DecodedMode);
    url.setQuery(QStringLiteral("k=v w\r\n&x=1&2"), QUrl::TolerantMode);
    const QByteArray target = wire::request_target(url);
    EXPECT_EQ(target, "/a%20b%0D%0AX-Injected:%201?k=v%20w%0D%0A&x=1&2");
    EXPECT_EQ(wire::request_target(QUrl("http://127.0.0.1")), "/");
}

TEST(Wire, RequestBytesAddHostAndLengthOnlyWhenAbsent)
{
    const QUrl url("http://127.0.0.1:8081/p?q=1");
    EXPECT_EQ(wire::request_bytes("POST", url, list({ { "X-A", "1" } }), "body"),
        "POST /p?q=1 HTTP/1.1\r\nX-A: 1\r\nHost: 127.0.0.1:8081\r\nContent-Length: 4\r\n"
        "\r\nbody");
    // The client's own host is kept; its length is made to tell the truth; no chunking.
    EXPECT_EQ(wire::request_bytes("GET", url,
                  list({ { "host", "front:1" }, { "content-length", "10" },
                      { "Transfer-Encoding", "chunked" } }),
                  "abc"),
        "GET /p?q=1 HTTP/1.1\r\nhost: front:1\r\ncontent-length: 3\r\n\r\nabc");
    EXPECT_TRUE(wire::request_bytes("GET", QUrl("http://[::1]:90/"), {}, {})
                    .contains("\r\nHost: [::1]:90\r\n"));
    EXPECT_TRUE(wire::request_bytes("GET", QUrl("http://10.0.0.1/"), {}, {})
                    .contains("\r\nHost: 10.0.0.1\r\n"));
}
