#include "http/qhttp_tcp_stream.h"
#include "http_test_support.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <arpa/inet.h>
#include <climits>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace qhttp::server;
using http_test::peer;
using http_test::wait_until;

namespace {

void answer_ok(QHttpRequest*, QHttpResponse* response)
{
    response->end("ok");
}

// The server keeps serving others after any fault of one client.
void expect_still_serving(quint16 port, const char* behaviour)
{
    peer next(port);
    next.send("GET / HTTP/1.1\r\n\r\n");
    raw_response r;
    ASSERT_TRUE(next.read(r)) << behaviour;
    EXPECT_EQ(r.status, 200) << behaviour;
}

// A client that reads whatever comes and closes only when told to (a QTcpSocket closes as soon
// as the server has shut its side).
struct stubborn_client
{
    int fd = -1;
    bool ended = false; // the server has shut its side
    QByteArray received;
    // `receive_buffer`: the socket's receive buffer, in bytes; 0 leaves the system's own.
    explicit stubborn_client(quint16 port, int receive_buffer = 0)
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receive_buffer > 0)
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    ~stubborn_client() { close(); }
    void send(const QByteArray& bytes)
    {
        ::send(fd, bytes.constData(), bytes.size(), MSG_NOSIGNAL);
    }
    // `most`: bytes to take at most in this call, for a client that reads slowly.
    bool read_to_end(int most = INT_MAX)
    {
        char buffer[4096];
        ssize_t got = -1;
        for (int taken = 0; taken < most; taken += int(got)) {
            got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            received.append(buffer, int(got));
        }
        ended = ended || got == 0;
        return ended;
    }
    void close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
};

} // namespace

TEST(HttpServerFaults, MalformedInputIsAnsweredAndClosed)
{
    qhttp::server_limits limits;
    limits.max_body_bytes = 1000;
    http_test::server s(limits);
    int handled = 0;
    s.handler = http_test::at_end([&](QHttpRequest* request, QHttpResponse* response) {
        ++handled;
        answer_ok(request, response);
    });
    struct Case
    {
        const char* behaviour;
        QByteArray bytes;
        int status; // the answer, when the client can still read it
        QByteArray body; // expected body, checked when not empty
        bool reliable; // false: the server may reset before the client reads the answer
        int handled; // requests that reached their end
    };
    const QByteArray big_header
        = "GET / HTTP/1.1\r\nX-Big: " + QByteArray(100 * 1024, 'a') + "\r\n\r\n";
    const Case cases[] = {
        { "garbage request line", "garbage\r\n\r\n", 400, "{\"What\":\"Bad request\"}", true, 0 },
        { "bytes that are not HTTP", QByteArray("\x16\x03\x01\x00\xa5\x01\x00\x00", 8), 400, "",
            true, 0 },
        { "Content-Length not a number", "POST / HTTP/1.1\r\nContent-Length: abc\r\n\r\n", 400, "",
            true, 0 },
        { "two different lengths",
            "POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab", 400, "", true,
            0 },
        { "length and chunked together (request smuggling)",
            "POST / HTTP/1.1\r\nContent-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
            400, "", true, 0 },
        { "bad chunk size", "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", 400, "",
            true, 0 },
        { "declared body over the cap: refused before it is read",
            "POST / HTTP/1.1\r\nContent-Length: 1001\r\nExpect: 100-continue\r\n\r\n", 413,
            "{\"What\":\"Request body too large\"}", true, 0 },
        { "chunked body growing over the cap",
            "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3e9\r\n" + QByteArray(1001, 'x')
                + "\r\n0\r\n\r\n",
            413, "{\"What\":\"Request body too large\"}", true, 0 },
        { "head over the parser's limit", big_header, 431, "", true, 0 },
        { "version 2.0", "GET / HTTP/2.0\r\n\r\n", 505, "{\"What\":\"HTTP version not supported\"}",
            true, 0 },
        { "version 1.2", "GET / HTTP/1.2\r\nHost: x\r\n\r\n", 505, "", true, 0 },
        { "version 0.9", "GET / HTTP/0.9\r\n\r\n", 505, "", true, 0 },
        { "blank inside a header name", "GET / HTTP/1.1\r\nX Forwarded: a\r\n\r\n", 400,
            "{\"What\":\"Bad request\"}", true, 0 },
        { "blank before the colon", "GET / HTTP/1.1\r\nHost : x\r\n\r\n", 400, "", true, 0 },
        { "tab inside a header name", "GET / HTTP/1.1\r\nX\tY: a\r\n\r\n", 400, "", true, 0 },
        { "a coding besides chunking: the body cannot be framed",
            "POST / HTTP/1.1\r\nTransfer-Encoding: gzip, chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", 501,
            "{\"What\":\"Not implemented\"}", true, 0 },
        { "a coding alone", "POST / HTTP/1.1\r\nTransfer-Encoding: deflate\r\n\r\nabc", 501, "",
            true, 0 },
        { "dot segment, before any handler", "GET /a/./b HTTP/1.1\r\n\r\n", 400,
            "{\"What\":\"Bad request\"}", true, 0 },
        { "encoded dot-dot segments, body unread",
            "POST /a/%2e%2E%2fb HTTP/1.1\r\n"
            "Content-Length: 3\r\n\r\nabc",
            400, "{\"What\":\"Bad request\"}", true, 0 },
    };
    for (const Case& c : cases) {
        handled = 0;
        peer client(s.port());
        client.send(c.bytes);
        raw_response r;
        const bool answered = client.read(r, false, c.reliable ? 5000 : 1000);
        EXPECT_TRUE(answered || !c.reliable) << c.behaviour;
        if (answered) {
            EXPECT_EQ(r.status, c.status) << c.behaviour;
            EXPECT_EQ(r.header("connection"), "close") << c.behaviour;
            if (!c.body.isEmpty()) {
                EXPECT_EQ(r.body, c.body) << c.behaviour;
            }
        }
        EXPECT_TRUE(client.wait_closed()) << c.behaviour;
        EXPECT_EQ(handled, c.handled) << c.behaviour;
        expect_still_serving(s.port(), c.behaviour);
    }
}

TEST(HttpServerFaults, BodyAtTheCapIsAccepted)
{
    qhttp::server_limits limits;
    limits.max_body_bytes = 1000;
    http_test::server s(limits);
    s.handler = http_test::at_end([](QHttpRequest* request, QHttpResponse* response) {
        response->end(QByteArray::number(request->collectedData().size()));
    });
    peer client(s.port());
    client.send("POST / HTTP/1.1\r\nContent-Length: 1000\r\n\r\n" + QByteArray(1000, 'x'));
    raw_response r;
    ASSERT_TRUE(client.read(r));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "1000");
}

TEST(HttpServerFaults, IdleConnectionsAreClosedButWaitingRequestsAreNot)
{
    qhttp::server_limits limits;
    limits.idle_timeout_ms = 100;
    http_test::server s(limits);
    QPointer<QHttpResponse> waiting;
    s.handler = [&](QHttpRequest* request, QHttpResponse* response) {
        if (request->url().path() == "/wait")
            waiting = response;
        else
            response->end("ok");
    };

    peer silent(s.port());
    EXPECT_TRUE(silent.wait_closed(5000)) << "a connection that never sends is closed";

    peer partial(s.port());
    partial.send("GET / HTTP/1.1\r\nHost: x\r\n");
    EXPECT_TRUE(partial.wait_closed(5000)) << "a head that stops half-way is closed";

    peer kept(s.port());
    kept.send("GET /wait HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(wait_until([&] { return !waiting.isNull(); }));
    http_test::spin(350); // several idle periods while the answer is pending
    EXPECT_TRUE(kept.connected()) << "a request waiting for its answer keeps its connection";
    waiting->end("late");
    raw_response r;
    ASSERT_TRUE(kept.read(r));
    EXPECT_EQ(r.body, "late");
    EXPECT_TRUE(kept.wait_closed(5000)) << "idle again after the answer";
}

TEST(HttpServerFaults, ClientGoneWhileAnswerPendingDestroysTheRequest)
{
    QPointer<QHttpRequest> request_seen;
    QPointer<QHttpResponse> response_seen;
    QStringList order;
    http_test::server s; // after what its handlers write to, so it goes first
    s.handler = http_test::at_end([&](QHttpRequest* request, QHttpResponse* response) {
        request_seen = request;
        response_seen = response;
        // Stands for the router, which lives as a child of its request.
        auto* child = new QObject(request);
        QObject::connect(request, &QObject::destroyed, [&] { order << "request"; });
        QObject::connect(child, &QObject::destroyed, [&] { order << "child"; });
    });
    peer client(s.port());
    client.send("GET / HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(wait_until([&] { return !request_seen.isNull(); }));
    client.abort();
    ASSERT_TRUE(wait_until([&] { return request_seen.isNull(); }));
    EXPECT_TRUE(response_seen.isNull());
    EXPECT_EQ(order, QStringList({ "request", "child" }));
    s.handler = answer_ok;
    expect_still_serving(s.port(), "after a client left");
}

TEST(HttpServerFaults, ClientGoneDuringNestedEventLoopOfUserCode)
{
    struct Case
    {
        const char* behaviour;
        bool in_end; // nested loop in the `end` handler, else in the request callback
        bool answer_inside; // the answer is written inside the nested loop
    };
    const Case cases[] = {
        { "nested loop in the request callback", false, false },
        { "nested loop in the end handler", true, false },
        { "answered inside the nested loop, then the client leaves", true, true },
    };
    for (const Case& c : cases) {
        bool alive_after_nested_loop = false;
        bool destroyed = false;
        http_test::server s;
        auto client = std::make_unique<peer>(s.port());
        auto nested = [&](QHttpRequest* request, QHttpResponse* response) {
            QObject::connect(request, &QObject::destroyed, [&] { destroyed = true; });
            QPointer<QHttpRequest> guard(request);
            QEventLoop loop;
            if (c.answer_inside)
                QTimer::singleShot(5, response, [response] { response->end("inside"); });
            QTimer::singleShot(20, &loop, [&] { client->abort(); });
            QTimer::singleShot(150, &loop, &QEventLoop::quit);
            loop.exec();
            // The layer must not have deleted anything of ours while we were inside.
            alive_after_nested_loop = !guard.isNull() && !destroyed;
            if (guard) {
                (void)request->url().toString();
                response->addHeader("x-after", "1");
                response->end("late");
            }
        };
        s.handler = [&](QHttpRequest* request, QHttpResponse* response) {
            request->collectData(-1);
            if (!c.in_end) {
                nested(request, response);
                return;
            }
            QObject::connect(
                request, &QHttpRequest::end, request, [=] { nested(request, response); });
        };
        client->send("POST / HTTP/1.1\r\nContent-Length: 2\r\n\r\nab");
        ASSERT_TRUE(wait_until([&] { return destroyed; })) << c.behaviour;
        EXPECT_TRUE(alive_after_nested_loop) << c.behaviour;
        s.handler = answer_ok;
        expect_still_serving(s.port(), c.behaviour);
    }
}

TEST(HttpServerFaults, ServerDestroyedWithRequestsPending)
{
    auto s = std::make_unique<http_test::server>();
    QPointer<QHttpRequest> pending;
    s->handler = [&](QHttpRequest* request, QHttpResponse*) { pending = request; };
    peer client(s->port());
    client.send("GET / HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(wait_until([&] { return !pending.isNull(); }));
    s.reset();
    EXPECT_TRUE(pending.isNull());
    EXPECT_TRUE(client.wait_closed());
}

// A head has a deadline from its first byte, whatever trickles in meanwhile; the request it
// would have been is never answered, and what was owed before it still goes out.
TEST(HttpServerFaults, HeadNotCompleteInTimeClosesTheConnection)
{
    qhttp::server_limits limits;
    limits.head_timeout_ms = 400;
    limits.idle_timeout_ms = 10000;
    http_test::server s(limits);
    int handled = 0;
    s.handler = [&](QHttpRequest*, QHttpResponse* response) {
        ++handled;
        response->end("ok");
    };
    struct Case
    {
        const char* behaviour;
        QByteArray first; // sent at once
        QByteArray trickle; // then a byte every 50 ms, as long as the test runs
        int answers; // whole answers read before the close
        bool closed;
    };
    const Case cases[] = {
        { "head sent a byte at a time", "", "GET / HTTP/1.1\r\nX-Slow: aaaaaaaaaaaaaaaaaaaaaaa", 0,
            true },
        { "blank lines before a head", "", QByteArray(60, '\n'), 0, true },
        { "answer owed before the slow head goes first",
            "GET /a HTTP/1.1\r\n\r\nGET /b HTTP/1.1\r\n",
            "X-Slow: aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", 1, true },
        { "head completed in time", "GET / HTTP/1.1\r\nHost: x\r\n", "\r\n", 1, false },
    };
    for (const Case& c : cases) {
        handled = 0;
        peer client(s.port());
        client.send(c.first);
        for (char byte : c.trickle) {
            client.send(QByteArray(1, byte));
            if (client.wait_closed(50))
                break;
        }
        EXPECT_EQ(client.wait_closed(1000), c.closed) << c.behaviour;
        int answers = 0;
        raw_response r;
        while (client.read(r, false, 200))
            ++answers;
        EXPECT_EQ(answers, c.answers) << c.behaviour;
        EXPECT_EQ(handled, c.answers) << c.behaviour;
    }
}

// A connection the server closes while the client is still sending keeps its last answer: the
// server reads and drops what comes until the client has had the end.
TEST(HttpServerFaults, LastAnswerArrivesWholeWhileTheClientStillSends)
{
    qhttp::server_limits limits;
    limits.max_body_bytes = 1000;
    http_test::server s(limits);
    const QByteArray big(1024 * 1024, 'b');
    s.handler
        = http_test::at_end([&](QHttpRequest*, QHttpResponse* response) { response->end(big); });
    struct Case
    {
        const char* behaviour;
        QByteArray request;
        int status;
        int body_size;
    };
    const QByteArray more = QByteArray("GET / HTTP/1.1\r\n\r\n").repeated(100000); // 2 MB
    const Case cases[] = {
        { "1.1 asking to close", "GET / HTTP/1.1\r\nConnection: close\r\n\r\n", 200, big.size() },
        { "1.0", "GET / HTTP/1.0\r\n\r\n", 200, big.size() },
        { "body refused before it is read",
            "POST / HTTP/1.1\r\nContent-Length: " + QByteArray::number(more.size()) + "\r\n\r\n",
            413, -1 },
    };
    for (const Case& c : cases) {
        peer client(s.port());
        client.send(c.request + more);
        raw_response r;
        ASSERT_TRUE(client.read(r, false, 10000)) << c.behaviour;
        EXPECT_EQ(r.status, c.status) << c.behaviour;
        if (c.body_size >= 0) {
            EXPECT_EQ(r.body.size(), c.body_size) << c.behaviour;
        }
        EXPECT_TRUE(client.wait_closed()) << c.behaviour;
    }
}

// A client that shuts its sending side after its requests still reads what it was answered:
// that arrives whole, however much of it the system has not taken yet when the end of the
// input is read, while a request still waiting for its answer has lost its client.
TEST(HttpServerFaults, AnswersGivenBeforeAHalfCloseArriveWhole)
{
    http_test::server s;
    // More than the system takes at once: the end of the input is read while the rest is
    // still the gateway's to send.
    QByteArray big;
    for (int i = 0; big.size() < 16 * 1024 * 1024; ++i)
        big += QByteArray::number(i) + ' ';
    QPointer<QHttpRequest> waiting;
    s.handler = http_test::at_end([&](QHttpRequest* request, QHttpResponse* response) {
        if (request->url().path() == "/big")
            response->end(big);
        else
            waiting = request;
    });
    struct Case
    {
        const char* behaviour;
        QByteArray requests;
        bool waits; // the last request is never answered
    };
    const Case cases[] = {
        { "one answer", "GET /big HTTP/1.1\r\n\r\n", false },
        { "an answer, then a request left waiting",
            "GET /big HTTP/1.1\r\n\r\nGET /wait HTTP/1.1\r\n\r\n", true },
    };
    for (const Case& c : cases) {
        // A small window and slow reads keep the system's buffers full, as a distant client does.
        stubborn_client client(s.port(), 64 * 1024);
        client.send(c.requests);
        ::shutdown(client.fd, SHUT_WR);
        ASSERT_TRUE(wait_until([&] { return client.read_to_end(64 * 1024); }, 30000))
            << c.behaviour;
        const int body_at = client.received.indexOf("\r\n\r\n") + 4;
        EXPECT_TRUE(client.received.startsWith("HTTP/1.1 200")) << c.behaviour;
        EXPECT_EQ(client.received.size() - body_at, big.size()) << c.behaviour;
        EXPECT_TRUE(client.received.endsWith(big.right(64))) << c.behaviour;
        if (c.waits) {
            EXPECT_TRUE(wait_until([&] { return waiting.isNull(); })) << c.behaviour;
        }
    }
}

// The lingering after the last answer ends when the client closes, when it has sent nothing
// for the quiet time, or when the whole time is up however it keeps sending.
TEST(HttpServerFaults, LingeringEndsWhenTheClientClosesFallsQuietOrTimeIsUp)
{
    qhttp::server_limits limits;
    limits.linger_quiet_ms = 300;
    limits.linger_total_ms = 1200;
    http_test::server s(limits);
    s.handler = answer_ok;
    struct Case
    {
        const char* behaviour;
        bool closes; // once it has read the end
        int send_every_ms; // 0: sends nothing more
        int at_least_ms; // from the end of the answer to the server's close
        int at_most_ms;
    };
    const Case cases[] = {
        { "client closes", true, 0, 0, 200 },
        { "silent client", false, 0, 250, 1000 },
        { "client that keeps sending", false, 100, 1100, 3000 },
    };
    for (const Case& c : cases) {
        const int before = qhttp::tcp_stream::open_descriptors();
        stubborn_client client(s.port());
        client.send("GET / HTTP/1.1\r\nConnection: close\r\n\r\n");
        ASSERT_TRUE(wait_until([&] { return client.read_to_end(); })) << c.behaviour;
        QElapsedTimer since_end;
        since_end.start();
        if (c.closes)
            client.close();
        QTimer sender;
        QObject::connect(&sender, &QTimer::timeout, [&] { client.send("x"); });
        if (c.send_every_ms > 0)
            sender.start(c.send_every_ms);
        EXPECT_TRUE(
            wait_until([&] { return qhttp::tcp_stream::open_descriptors() == before; }, 5000))
            << c.behaviour;
        EXPECT_GE(since_end.elapsed(), c.at_least_ms) << c.behaviour;
        EXPECT_LE(since_end.elapsed(), c.at_most_ms) << c.behaviour;
    }
}
