#include "gateway_fixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

namespace {

using header_list = QList<QPair<QByteArray, QByteArray>>;

// The request line and the headers of a raw request, names in lower case.
struct seen_request
{
    QByteArray line;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    explicit seen_request(const QByteArray& raw)
    {
        const int end = raw.indexOf("\r\n\r\n");
        const QList<QByteArray> lines = raw.left(end).split('\n');
        line = lines.value(0).trimmed();
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines[i].indexOf(':');
            headers.append(
                { lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed() });
        }
        body = raw.mid(end + 4);
    }
    int count(const QByteArray& name) const
    {
        int n = 0;
        for (const auto& h : headers)
            n += h.first == name;
        return n;
    }
    QByteArray value(const QByteArray& name) const
    {
        for (const auto& h : headers)
            if (h.first == name)
                return h.second;
        return {};
    }
};

class forward_test : public gateway_fixture
{
protected:
    void SetUp() override
    {
        start_gateway();
        // The SPODES routes are the one forward family here whose path names a right.
        user = bearer(token(payload("2.0", "user@x",
            QJsonObject { { "b", QJsonObject { { "user", "" } } },
                { "spodes_to_tornel", QJsonObject { { "admin", "" } } } })));
    }
    // The request the target saw for one request sent to the gateway.
    seen_request forwarded(const QByteArray& method, const QByteArray& path,
        header_list headers = {}, const QByteArray& body = {})
    {
        const int before = target.requests().size();
        headers << user;
        const raw_response answer = raw_http::request(gateway->port(), method, path, headers, body);
        EXPECT_EQ(answer.status, 200) << method.constData() << " " << path.constData();
        EXPECT_TRUE(target.wait_requests(before + 1));
        return seen_request(target.requests().value(before));
    }
    QPair<QByteArray, QByteArray> user;
};

TEST_F(forward_test, path_and_query_reach_the_target_in_each_family_form)
{
    struct row
    {
        const char* behaviour;
        const char* path;
        const char* line;
    };
    const row rows[] = {
        { "the path is decoded and encoded again", "/api/a%20b", "GET /api/a%20b HTTP/1.1" },
        { "the query is passed on decoded", "/api/x?a=1%262", "GET /api/x?a=1&2 HTTP/1.1" },
        { "the login service gets the query as received", "/auth/x?a=1%262",
            "GET /auth/x?a=1%262 HTTP/1.1" },
        { "the whole path goes on, prefix included", "/sessions/list",
            "GET /sessions/list HTTP/1.1" },
        { "no query gives none", "/telecom/api/stats", "GET /telecom/api/stats HTTP/1.1" },
        { "an escaped escape of a dot stays one: no dot segment at the target", "/api/%252e%252e/x",
            "GET /api/%252e%252e/x HTTP/1.1" },
    };
    for (const row& r : rows)
        EXPECT_EQ(forwarded("GET", r.path).line, r.line) << r.behaviour;
}

TEST_F(forward_test, headers_pass_once_with_the_agent_marked)
{
    struct row
    {
        const char* behaviour;
        const char* path;
        const char* agent; // nullptr: none sent
        const char* seen; // nullptr: none expected
        const char* connection = nullptr; // the client's Connection header, if any
    };
    const row rows[] = {
        { "a forward marks the client's agent", "/api/x", "probe/1.0", "gorvex: probe/1.0" },
        { "no agent, none sent", "/api/x", nullptr, nullptr },
        { "a UTF-8 agent goes in Latin-1", "/api/x", "ua-\xc3\xa9-\xe2\x82\xac",
            "gorvex: ua-\xe9-?" },
        { "the login service learns the client's address", "/auth/x", "probe/1.0",
            "gorvex: 127.0.0.1: probe/1.0" },
        { "the login service learns the address without an agent", "/auth/x", nullptr,
            "gorvex: 127.0.0.1:" },
        { "the login service gets a UTF-8 agent in Latin-1", "/auth/x", "ua-\xc3\xa9",
            "gorvex: 127.0.0.1: ua-\xe9" },
        { "an agent the client names in Connection is its connection's own", "/api/x", "probe/1.0",
            nullptr, "User-Agent" },
        { "the login service learns the address whatever Connection names", "/auth/x", "probe/1.0",
            "gorvex: 127.0.0.1:", "keep-alive, user-agent" },
    };
    for (const row& r : rows) {
        header_list headers { { "X-Custom", "kept" }, { "Cookie", "c=1" } };
        if (r.agent)
            headers << QPair<QByteArray, QByteArray>("User-Agent", r.agent);
        if (r.connection)
            headers << QPair<QByteArray, QByteArray>("Connection", r.connection);
        const seen_request seen = forwarded("GET", r.path, headers);
        EXPECT_EQ(seen.count("host"), 1) << r.behaviour;
        EXPECT_EQ(seen.value("host"), "127.0.0.1") << r.behaviour;
        EXPECT_EQ(seen.value("x-custom"), "kept") << r.behaviour;
        EXPECT_EQ(seen.value("cookie"), "c=1") << r.behaviour;
        EXPECT_EQ(seen.count("authorization"), 1) << r.behaviour;
        if (r.seen) {
            EXPECT_EQ(seen.count("user-agent"), 1) << r.behaviour;
            EXPECT_EQ(seen.value("user-agent"), r.seen) << r.behaviour;
        } else {
            EXPECT_EQ(seen.count("user-agent"), 0) << r.behaviour;
        }
    }
}

TEST_F(forward_test, body_passes_whole_with_its_own_length)
{
    QByteArray binary("a\0b\r\n\r\nc", 9);
    binary += QByteArray(70000, 'z');
    const seen_request plain = forwarded("POST", "/api/x", {}, binary);
    EXPECT_EQ(plain.line, "POST /api/x HTTP/1.1");
    EXPECT_EQ(plain.body, binary);
    EXPECT_EQ(plain.value("content-length"), QByteArray::number(binary.size()));
    EXPECT_EQ(plain.count("content-length"), 1);
}

TEST_F(forward_test, connection_cannot_name_away_the_host_or_the_framing)
{
    for (const QByteArray named : { "Content-Length", "Transfer-Encoding", "Host" }) {
        const int before = target.requests().size();
        const QByteArray framed = named == "Transfer-Encoding"
            ? "Transfer-Encoding: chunked\r\n\r\nb\r\nhello world\r\n0\r\n\r\n"
            : "Content-Length: 11\r\n\r\nhello world";
        raw_http client(gateway->port());
        client.send("POST /api/x HTTP/1.1\r\nHost: front\r\nAuthorization: " + user.second
            + "\r\nConnection: " + named + "\r\n" + framed);
        raw_response answer;
        ASSERT_TRUE(client.read(answer)) << named.constData();
        EXPECT_EQ(answer.status, 200) << named.constData();
        ASSERT_TRUE(target.wait_requests(before + 1)) << named.constData();
        const seen_request seen(target.requests().value(before));
        EXPECT_EQ(seen.count("host"), 1) << named.constData();
        EXPECT_EQ(seen.count("content-length"), 1) << named.constData();
        EXPECT_EQ(seen.value("content-length"), "11") << named.constData();
        EXPECT_EQ(seen.body, "hello world") << named.constData();
        EXPECT_FALSE(target.wait_requests(before + 2, 100)) << named.constData();
    }
}

TEST_F(forward_test, chunked_and_expecting_requests_are_sent_with_a_length)
{
    raw_http chunked(gateway->port());
    chunked.send("POST /api/x HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: " + user.second
        + "\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n");
    raw_response answer;
    ASSERT_TRUE(chunked.read(answer));
    EXPECT_EQ(answer.status, 200);
    ASSERT_TRUE(target.wait_requests(1));
    const seen_request first(target.requests().value(0));
    EXPECT_EQ(first.count("transfer-encoding"), 0);
    EXPECT_EQ(first.value("content-length"), "11");
    EXPECT_EQ(first.body, "hello world");

    raw_http expecting(gateway->port());
    expecting.send("POST /api/x HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: " + user.second
        + "\r\nExpect: 100-continue\r\nContent-Length: 5\r\n\r\nhello");
    do
        ASSERT_TRUE(expecting.read(answer));
    while (answer.status == 100);
    EXPECT_EQ(answer.status, 200);
    ASSERT_TRUE(target.wait_requests(2));
    const seen_request second(target.requests().value(1));
    EXPECT_EQ(second.count("expect"), 0);
    EXPECT_EQ(second.body, "hello");
}

TEST_F(forward_test, answer_is_relayed_with_the_gateways_framing)
{
    struct row
    {
        const char* behaviour;
        QByteArray answer;
    };
    const row rows[] = {
        { "a length-framed answer",
            "HTTP/1.1 201 Created\r\nX-Custom: yes\r\nDate: Mon, 01 Jan 2024 00:00:00 GMT\r\n"
            "Connection: keep-alive\r\ndate: lower\r\nSet-Cookie: a=1\r\nSet-Cookie: b=2\r\n"
            "Content-Length: 4\r\n\r\nbody" },
        { "a chunked answer",
            "HTTP/1.1 201 Created\r\nX-Custom: yes\r\nDate: Mon, 01 Jan 2024 00:00:00 GMT\r\n"
            "Connection: keep-alive\r\ndate: lower\r\nSet-Cookie: a=1\r\nSet-Cookie: b=2\r\n"
            "Transfer-Encoding: chunked\r\n\r\n2\r\nbo\r\n2\r\ndy\r\n0\r\n\r\n" },
    };
    for (const row& r : rows) {
        target.script(http_target::behaviour::answer, r.answer);
        const raw_response answer = get("/api/x", { user });
        EXPECT_EQ(answer.status, 201) << r.behaviour;
        EXPECT_EQ(answer.body, "body") << r.behaviour;
        EXPECT_EQ(answer.header("X-Custom"), "yes") << r.behaviour;
        EXPECT_EQ(answer.header_count("Set-Cookie"), 2) << r.behaviour;
        EXPECT_EQ(answer.header_count("content-length"), 1) << r.behaviour;
        EXPECT_EQ(answer.header("content-length"), "4") << r.behaviour;
        EXPECT_EQ(answer.header_count("transfer-encoding"), 0) << r.behaviour;
        EXPECT_FALSE(answer.header("content-security-policy").isEmpty()) << r.behaviour;
        int exact_date = 0;
        int lower_date = 0;
        for (const auto& h : answer.headers) {
            exact_date += h.first == "Date";
            lower_date += h.first == "date";
        }
        EXPECT_EQ(exact_date, 0) << r.behaviour;
        EXPECT_EQ(lower_date, 1) << r.behaviour;
        EXPECT_EQ(answer.header("date"), "lower") << r.behaviour;
    }
}

// Answers at the edges of what the gateway can relay: whole, or answered 408 with no body.
TEST_F(forward_test, answers_are_relayed_whole_or_not_at_all)
{
    struct row
    {
        const char* behaviour;
        http_target::behaviour b;
        QByteArray answer;
        int status;
        QByteArray length; // the relayed Content-Length; empty: none
    };
    const auto reset = http_target::behaviour::reset_after_answer;
    const auto answer = http_target::behaviour::answer;
    const row rows[] = {
        { "framed by the close and cut off by a reset", reset,
            "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\ncut short", 408, "0" },
        { "whole before the reset", reset, http_target::default_answer(), 200, "6" },
        { "a coding besides chunking", answer,
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", 408,
            "0" },
        { "a 304 keeps its length", answer,
            "HTTP/1.1 304 Not Modified\r\nETag: x\r\nContent-Length: 5\r\n\r\n", 304, "5" },
    };
    for (const row& r : rows) {
        target.script(r.b, r.answer);
        const raw_response relayed = get("/api/x", { user });
        EXPECT_EQ(relayed.status, r.status) << r.behaviour;
        EXPECT_EQ(relayed.body, r.status == 200 ? "target" : "") << r.behaviour;
        EXPECT_EQ(relayed.header_count("content-length"), r.length.isEmpty() ? 0 : 1)
            << r.behaviour;
        EXPECT_EQ(relayed.header("content-length"), r.length) << r.behaviour;
    }
}

TEST_F(forward_test, each_family_forwards_its_own_methods)
{
    struct row
    {
        const char* behaviour;
        const char* method;
        const char* path;
        int status;
        QByteArray body;
    };
    const row rows[] = {
        { "the login service takes PUT", "PUT", "/auth/x", 200, "target" },
        { "the login service takes DELETE", "DELETE", "/auth/x", 200, "target" },
        { "the login service, another method", "OPTIONS", "/auth/x", 404,
            R"({"What":"method not found"})" },
        { "SPODES takes DELETE", "DELETE", "/spodes_to_tornel/x", 200, "target" },
        { "SPODES refuses PUT", "PUT", "/spodes_to_tornel/x", 404, R"({"What":""})" },
        { "the modem API refuses PUT", "PUT", "/api/x", 404, R"({"What":""})" },
        { "the telecom API refuses DELETE", "DELETE", "/telecom/x", 404, R"({"What":""})" },
        { "HEAD is not forwarded", "HEAD", "/api/x", 404, {} },
        { "a path that climbs out of its prefix", "GET", "/auth/..%2f..%2fadmin", 400,
            R"({"What":"Bad request"})" },
        { "a dot segment with parameters", "GET", "/api/..;/admin", 400,
            R"({"What":"Bad request"})" },
    };
    for (const row& r : rows) {
        const int before = target.requests().size();
        const raw_response answer = raw_http::request(gateway->port(), r.method, r.path, { user });
        EXPECT_EQ(answer.status, r.status) << r.behaviour;
        EXPECT_EQ(answer.body, r.body) << r.behaviour;
        if (r.status == 200) {
            ASSERT_TRUE(target.wait_requests(before + 1)) << r.behaviour;
            EXPECT_TRUE(target.requests().value(before).startsWith(r.method)) << r.behaviour;
        } else {
            EXPECT_EQ(target.requests().size(), before) << r.behaviour;
        }
    }
}

TEST_F(gateway_fixture, unreachable_targets_are_answered_408)
{
    struct row
    {
        const char* behaviour;
        bool refused; // else the target closes every connection at once
    };
    for (const row& r : { row { "nothing listens", true }, row { "closed at once", false } }) {
        QMap<QString, QString> ini;
        if (r.refused)
            ini["GENERAL_SETTINGS/APP_PORT"] = QString::number(gateway_process::free_port());
        else
            target.script(http_target::behaviour::close_at_once);
        start_gateway(ini);
        const raw_response answer = get("/api/x", { bearer(token(payload())) });
        EXPECT_EQ(answer.status, 408) << r.behaviour;
        EXPECT_TRUE(answer.body.isEmpty()) << r.behaviour;
        EXPECT_EQ(get("/nothing").status, 404) << r.behaviour << ": still serving";
    }
}

TEST_F(forward_test, a_silent_target_is_let_go_when_the_client_leaves)
{
    target.script(http_target::behaviour::never_answer);
    {
        raw_http client(gateway->port());
        client.send(
            "GET /api/x HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: " + user.second + "\r\n\r\n");
        ASSERT_TRUE(target.wait_requests(1));
        EXPECT_EQ(target.open_connections(), 1);
    }
    // The gateway releases its client, which closes the connection to the target.
    EXPECT_TRUE(target.wait_open_connections(0));
    target.script(http_target::behaviour::answer);
    EXPECT_EQ(get("/api/y", { user }).status, 200);
    EXPECT_TRUE(gateway->running());
}

TEST_F(forward_test, each_forward_has_a_connection_of_its_own_and_closes_it)
{
    struct row
    {
        const char* behaviour;
        QByteArray answer;
    };
    const row rows[] = {
        { "a keep-alive target", http_target::default_answer() },
        { "a target that answers twice: the second is no other forward's",
            http_target::default_answer() + "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nstray" },
    };
    for (const row& r : rows) {
        target.script(http_target::behaviour::answer, r.answer);
        const int before = target.accepted_connections();
        for (int i = 0; i < 3; ++i) {
            const int seen_before = target.requests().size();
            const raw_response answer = get("/api/x", { user, { "Connection", "keep-alive" } });
            EXPECT_EQ(answer.body, "target") << r.behaviour;
            ASSERT_TRUE(target.wait_requests(seen_before + 1)) << r.behaviour;
            const seen_request seen(target.requests().value(seen_before));
            EXPECT_EQ(seen.count("connection"), 1) << r.behaviour;
            EXPECT_EQ(seen.value("connection"), "close") << r.behaviour;
        }
        EXPECT_EQ(target.accepted_connections() - before, 3) << r.behaviour;
        EXPECT_TRUE(target.wait_open_connections(0)) << r.behaviour;
    }
}

TEST_F(forward_test, headers_of_either_connection_stay_on_it)
{
    const seen_request seen = forwarded("GET", "/api/x",
        { { "Connection", "X-Private, keep-alive" }, { "X-Private", "1" }, { "Keep-Alive", "5" },
            { "TE", "trailers" }, { "Upgrade", "h2c" }, { "Proxy-Connection", "x" },
            { "Trailer", "y" } });
    for (const char* name :
        { "x-private", "keep-alive", "te", "upgrade", "proxy-connection", "trailer" })
        EXPECT_EQ(seen.count(name), 0) << name;

    struct row
    {
        const char* behaviour;
        QByteArray version;
        QByteArray target_says;
        QByteArray gateway_says; // its own Connection header, empty for none
    };
    const row rows[] = {
        { "an HTTP/1.0 client is closed whatever the target says", "HTTP/1.0",
            "connection: keep-alive", "close" },
        { "an HTTP/1.1 client is kept whatever the target says", "HTTP/1.1", "connection: close",
            "" },
    };
    for (const row& r : rows) {
        target.script(http_target::behaviour::answer,
            "HTTP/1.1 200 OK\r\n" + r.target_says
                + "\r\nKeep-Alive: timeout=5\r\nConnection: X-Hop\r\nX-Hop: 1\r\nUpgrade: x\r\n"
                  "X-Kept: 1\r\nContent-Length: 6\r\n\r\ntarget");
        raw_http client(gateway->port());
        client.send("GET /api/x " + r.version
            + "\r\nHost: 127.0.0.1\r\nAuthorization: " + user.second + "\r\n\r\n");
        raw_response answer;
        ASSERT_TRUE(client.read(answer)) << r.behaviour;
        EXPECT_EQ(answer.header("X-Kept"), "1") << r.behaviour;
        for (const char* name : { "keep-alive", "x-hop", "upgrade" })
            EXPECT_EQ(answer.header_count(name), 0) << r.behaviour << ": " << name;
        EXPECT_EQ(answer.header_count("connection"), r.gateway_says.isEmpty() ? 0 : 1)
            << r.behaviour;
        EXPECT_EQ(answer.header("connection"), r.gateway_says) << r.behaviour;
        EXPECT_EQ(client.wait_closed(300), !r.gateway_says.isEmpty()) << r.behaviour;
    }
}

// How many headers of the message have a name that starts with `prefix`, in any letter case.
template <class Headers>
int count_named(const Headers& headers, const QByteArray& prefix)
{
    int n = 0;
    for (const auto& h : headers)
        n += h.first.toLower().startsWith(prefix);
    return n;
}

// Thousands of names, in either letter case, with blanks and empty items, over one Connection
// header or a thousand: what they name goes, in either direction, and nothing else does.
TEST_F(forward_test, a_long_connection_list_takes_away_what_it_names_and_nothing_else)
{
    constexpr int n = 1000;
    header_list headers { { "User-Agent", "probe/1.0" } };
    // Names next to the kept ones in any order, none of them equal to one.
    QByteArray listed = "Host, content-length, User-Agent, , x-kept, X-Kept-00 ,";
    QByteArray absent;
    QByteArray answer = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < n; ++i) {
        const QByteArray k = QByteArray::number(i);
        headers << qMakePair("X-Named-" + k, QByteArray("1"))
                << qMakePair("X-Kept-" + k, QByteArray("1"));
        listed += (i % 2 ? " x-named-" : "X-NAMED-") + k + " ,";
        absent += "X-Absent-" + k + ", ";
        answer += "Connection: " + QByteArray(i % 2 ? "x-hop-" : "X-HOP-") + k + "\r\nX-Hop-" + k
            + ": 1\r\nX-Kept-" + k + ": 1\r\n";
    }
    headers << qMakePair(QByteArray("Connection"), listed)
            << qMakePair(QByteArray("Connection"), absent);
    const seen_request seen = forwarded("POST", "/auth/x", headers, "hello");
    EXPECT_EQ(count_named(seen.headers, "x-named-"), 0);
    EXPECT_EQ(count_named(seen.headers, "x-kept-"), n);
    EXPECT_EQ(seen.count("host"), 1);
    EXPECT_EQ(seen.value("content-length"), "5");
    EXPECT_EQ(seen.body, "hello");
    EXPECT_EQ(seen.value("user-agent"), "gorvex: 127.0.0.1:");

    target.script(http_target::behaviour::answer,
        answer
            + "Connection: x-kept, X-Kept-00\r\nContent-Security-Policy: target\r\n"
              "Set-Cookie: a=1\r\nSet-Cookie: b=2\r\nContent-Length: 6\r\n\r\ntarget");
    const raw_response got = get("/api/x", { user });
    EXPECT_EQ(got.status, 200);
    EXPECT_EQ(got.body, "target");
    EXPECT_EQ(count_named(got.headers, "x-hop-"), 0);
    EXPECT_EQ(count_named(got.headers, "x-kept-"), n);
    EXPECT_EQ(got.header_count("content-security-policy"), 1);
    EXPECT_EQ(got.header("content-security-policy"), "target");
    EXPECT_EQ(got.header_count("set-cookie"), 2);
}

// A bound on the gateway's peak resident size that a 64 MiB answer stays under and a whole 300
// MiB one does not. The address sanitizer pads each block and keeps freed memory for a while.
#if defined(__SANITIZE_ADDRESS__)
constexpr qint64 peak_bound_kib = 500 * 1024;
#else
constexpr qint64 peak_bound_kib = 250 * 1024;
#endif

// The peak resident size of the gateway, in KiB, found by its ini file on its command line.
qint64 peak_rss_kib(const QString& ini_path)
{
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile command("/proc/" + pid + "/cmdline");
        if (!command.open(QIODevice::ReadOnly) || !command.readAll().contains(ini_path.toUtf8()))
            continue;
        QFile status("/proc/" + pid + "/status");
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// What a target is scripted to do, and which fault that stands for.
struct misbehaviour
{
    const char* behaviour;
    http_target::behaviour b;
    QByteArray answer;
};

TEST_F(forward_test, answers_beyond_the_body_cap_are_answered_408_without_holding_them)
{
    const misbehaviour rows[] = {
        { "300 MiB announced", http_target::behaviour::answer,
            "HTTP/1.1 200 OK\r\nContent-Length: 314572800\r\n\r\nxxxx" },
        { "no end in sight", http_target::behaviour::endless_answer, {} },
    };
    for (const misbehaviour& r : rows) {
        target.script(r.b, r.answer);
        const raw_response answer
            = raw_http::request(gateway->port(), "GET", "/api/x", { user }, {}, 60000);
        EXPECT_EQ(answer.status, 408) << r.behaviour;
        EXPECT_TRUE(answer.body.isEmpty()) << r.behaviour;
        const qint64 peak = peak_rss_kib(gateway->ini_path());
        EXPECT_GT(peak, 0) << r.behaviour;
        EXPECT_LT(peak, peak_bound_kib) << r.behaviour;
        EXPECT_TRUE(target.wait_open_connections(0)) << r.behaviour;
    }
    target.script(http_target::behaviour::answer);
    EXPECT_EQ(get("/api/y", { user }).status, 200);
}

// Targets that stop short, against a gateway that waits 300 ms for progress instead of 60 s.
class forward_deadline_test : public forward_test
{
protected:
    static constexpr int stall_ms = 300;
    void SetUp() override
    {
        forward_test::SetUp();
        gateway = std::make_unique<gateway_process>(default_ini(),
            QMap<QString, QString> {
                { "GORVEX_TEST_FORWARD_STALL_MS", QString::number(stall_ms) } });
        ASSERT_TRUE(gateway->start()) << gateway->output().constData();
    }
};

TEST_F(forward_deadline_test, a_target_that_stops_short_is_answered_408)
{
    const misbehaviour rows[] = {
        { "accepts and never answers", http_target::behaviour::never_answer, {} },
        { "stops within the head", http_target::behaviour::answer,
            "HTTP/1.1 200 OK\r\nContent-Ty" },
        { "stops within the body", http_target::behaviour::answer,
            "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc" },
    };
    for (const misbehaviour& r : rows) {
        target.script(r.b, r.answer);
        QElapsedTimer clock;
        clock.start();
        const raw_response answer = get("/api/x", { user });
        EXPECT_EQ(answer.status, 408) << r.behaviour;
        EXPECT_TRUE(answer.body.isEmpty()) << r.behaviour;
        EXPECT_GE(clock.elapsed(), stall_ms - 50) << r.behaviour;
        EXPECT_LT(clock.elapsed(), stall_ms * 3 / 2) << r.behaviour;
        // The connection to the target is closed, not kept for another request.
        EXPECT_TRUE(target.wait_open_connections(0)) << r.behaviour;
    }
    // A target that answers within the deadline is waited for.
    target.script(http_target::behaviour::answer, http_target::default_answer(), stall_ms / 2);
    EXPECT_EQ(get("/api/y", { user }).status, 200);
}

} // namespace
