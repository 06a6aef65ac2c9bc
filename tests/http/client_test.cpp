#include "http/qhttp_client.h"
#include "http_test_support.h"

#include <QEventLoop>
#include <QTcpServer>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace qhttp::client;
using http_test::wait_until;

namespace {

// The length of the first whole request in `data` (head and Content-Length body), or -1.
int request_length(const QByteArray& data)
{
    const int end = data.indexOf("\r\n\r\n");
    if (end < 0)
        return -1;
    int length = 0;
    for (const QByteArray& line : data.left(end).split('\n'))
        if (line.toLower().startsWith("content-length:"))
            length = line.mid(15).trimmed().toInt();
    return data.size() >= end + 4 + length ? end + 4 + length : -1;
}

// A raw HTTP target: records the bytes of one request and plays back a scripted answer once
// the whole request (head and Content-Length body) has arrived.
class target
{
public:
    QList<QByteArray> answer; // written piece by piece, gap_ms apart
    int gap_ms = 5;
    int trickle_bytes = 0; // when set, the request is taken at most this much every gap_ms
    bool close_after = false;
    QByteArray received;
    QPointer<QTcpSocket> socket;

    target()
    {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            socket = server_.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, [this] {
                if (trickle_bytes == 0)
                    take();
            });
            if (trickle_bytes > 0) {
                // Little held by the kernel either: the request is seen to leave as it is taken.
                socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 65536);
                socket->setReadBufferSize(trickle_bytes);
                auto* timer = new QTimer(socket);
                QObject::connect(timer, &QTimer::timeout, [this] { take(); });
                timer->start(gap_ms);
            }
        });
    }
    quint16 port() const { return server_.serverPort(); }
    QUrl url(const QString& path = "/") const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path));
    }

private:
    void take()
    {
        received += socket->readAll();
        if (request_length(received) >= 0 && !answered_) {
            answered_ = true;
            play(0);
        }
    }
    void play(int piece)
    {
        if (!socket)
            return;
        if (piece < answer.size()) {
            socket->write(answer[piece]);
            socket->flush();
            QTimer::singleShot(gap_ms, socket, [this, piece] { play(piece + 1); });
        } else if (close_after) {
            socket->disconnectFromHost();
        }
    }
    QTcpServer server_;
    bool answered_ = false;
};

// A target that answers every request on every connection it accepts, and counts both;
// `later`, when set, follows each answer in a write of its own. Without an answer it closes.
class counting_target
{
public:
    QByteArray answer;
    QByteArray later;
    int accepted = 0;
    int requests = 0;

    counting_target()
    {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            QTcpSocket* socket = server_.nextPendingConnection();
            ++accepted;
            auto buffer = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::readyRead, [this, socket, buffer] {
                *buffer += socket->readAll();
                int length;
                while ((length = request_length(*buffer)) >= 0) {
                    buffer->remove(0, length);
                    ++requests;
                    if (answer.isEmpty())
                        socket->disconnectFromHost();
                    socket->write(answer);
                    if (!later.isEmpty())
                        QTimer::singleShot(5, socket, [this, socket] { socket->write(later); });
                }
            });
        });
    }
    QUrl url() const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(server_.serverPort()));
    }

private:
    QTcpServer server_;
};

// What the client reported, in the order it came.
struct outcome
{
    QStringList events;
    int status = 0;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
};

void run(QHttpClient* client, qhttp::THttpMethod method, const QUrl& url, outcome& out,
    const std::function<void(QHttpRequest*)>& fill)
{
    QObject::connect(client, &QHttpClient::connectionError, [&out] { out.events << "error"; });
    QObject::connect(client, &QHttpClient::connectingTimeOut, [&out] { out.events << "timeout"; });
    client->request(
        method, url,
        [&out, fill](QHttpRequest* request) {
            out.events << "request";
            fill(request);
        },
        [&out](QHttpResponse* response) {
            out.events << "response";
            out.status = response->status();
            out.headers = response->headers().items().toList();
            response->collectData(-1);
            QObject::connect(response, &QHttpResponse::end, [&out, response] {
                out.events << "end";
                out.body = response->collectedData();
            });
        });
}

bool finished(const outcome& out)
{
    return out.events.contains("end") || out.events.contains("error")
        || out.events.contains("timeout");
}

} // namespace

TEST(HttpClient, RequestReachesTheTargetByteForByte)
{
    struct Case
    {
        const char* behaviour;
        qhttp::THttpMethod method;
        QString decoded_path;
        QString query;
        QList<QPair<QByteArray, QByteArray>> headers;
        QByteArray body;
        QByteArray expected; // {port}: the target's port
    };
    const Case cases[] = {
        { "Host and Content-Length added, headers as given", qhttp::EHTTP_POST, "/p q", "a=1&2",
            { { "X-Mixed", "Va Lue" }, { "user-agent", "gorvex: x" } }, "body",
            "POST /p%20q?a=1&2 HTTP/1.1\r\nX-Mixed: Va Lue\r\nuser-agent: gorvex: x\r\n"
            "Connection: close\r\nHost: 127.0.0.1:{port}\r\nContent-Length: 4\r\n\r\nbody" },
        { "the caller's Host and Content-Length are not doubled, its Connection is replaced",
            qhttp::EHTTP_PUT, "/x", "",
            { { "host", "front:8080" }, { "connection", "keep-alive" }, { "content-length", "3" } },
            "abc",
            "PUT /x HTTP/1.1\r\nhost: front:8080\r\nConnection: close\r\ncontent-length: "
            "3\r\n\r\nabc" },
        { "CR/LF in a decoded path is encoded, never injected", qhttp::EHTTP_GET,
            "/a\r\nX-Injected: 1", "", {}, "",
            "GET /a%0D%0AX-Injected:%201 HTTP/1.1\r\nConnection: close\r\nHost: "
            "127.0.0.1:{port}\r\nContent-Length: 0\r\n\r\n" },
        { "chunked framing of the incoming request is not passed on", qhttp::EHTTP_POST, "/c", "",
            { { "transfer-encoding", "chunked" } }, "whole",
            "POST /c HTTP/1.1\r\nConnection: close\r\nHost: 127.0.0.1:{port}\r\n"
            "Content-Length: 5\r\n\r\nwhole" },
    };
    for (const Case& c : cases) {
        target t;
        t.answer = { "HTTP/1.1 204 No Content\r\n\r\n" };
        QUrl url = t.url();
        url.setPath(c.decoded_path, QUrl::DecodedMode);
        if (!c.query.isEmpty())
            url.setQuery(c.query, QUrl::TolerantMode);
        outcome out;
        QHttpClient client;
        run(&client, c.method, url, out, [&](QHttpRequest* request) {
            for (const auto& h : c.headers)
                request->addHeader(h.first, h.second);
            request->end(c.body);
        });
        ASSERT_TRUE(wait_until([&] { return finished(out); })) << c.behaviour;
        EXPECT_EQ(
            t.received, QByteArray(c.expected).replace("{port}", QByteArray::number(t.port())))
            << c.behaviour;
        EXPECT_EQ(out.events, QStringList({ "request", "response", "end" })) << c.behaviour;
    }
}

TEST(HttpClient, AnswersAreReadWhateverTheirFraming)
{
    struct Case
    {
        const char* behaviour;
        qhttp::THttpMethod method;
        QList<QByteArray> answer;
        bool close_after;
        QStringList events;
        int status;
        QByteArray body;
    };
    const Case cases[] = {
        { "Content-Length", qhttp::EHTTP_GET,
            { "HTTP/1.1 201 Created\r\nX-First: 1\r\nContent-Length: 5\r\nx-last: 2\r\n\r\nhello" },
            false, { "request", "response", "end" }, 201, "hello" },
        { "interim 1xx answers skipped", qhttp::EHTTP_POST,
            { "HTTP/1.1 100 Continue\r\n\r\n",
                "HTTP/1.1 102 Processing\r\nX-Interim: 1\r\n\r\n"
                "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok" },
            false, { "request", "response", "end" }, 200, "ok" },
        { "chunked answer de-chunked", qhttp::EHTTP_GET,
            { "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel",
                "lo\r\n6\r\n world\r\n0\r\n\r\n" },
            false, { "request", "response", "end" }, 200, "hello world" },
        { "body read to the close", qhttp::EHTTP_GET,
            { "HTTP/1.1 200 OK\r\n\r\nuntil ", "the close" }, true,
            { "request", "response", "end" }, 200, "until the close" },
        { "HEAD answer announces a body it does not carry", qhttp::EHTTP_HEAD,
            { "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n" }, false,
            { "request", "response", "end" }, 200, "" },
        { "head split over several writes", qhttp::EHTTP_GET,
            { "HTTP/1.1 404 Not", " Found\r\nContent-Len", "gth: 1\r\n\r\n", "x" }, false,
            { "request", "response", "end" }, 404, "x" },
        { "dropped before the body is complete", qhttp::EHTTP_GET,
            { "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc" }, true,
            { "request", "response", "error" }, 200, "" },
        { "dropped before any answer", qhttp::EHTTP_GET, {}, true, { "request", "error" }, 0, "" },
        { "not HTTP", qhttp::EHTTP_GET, { "SSH-2.0-OpenSSH\r\n" }, false, { "request", "error" }, 0,
            "" },
        { "204 ends at its head, length or not", qhttp::EHTTP_GET,
            { "HTTP/1.1 204 No Content\r\nContent-Length: 5\r\n\r\n" }, false,
            { "request", "response", "end" }, 204, "" },
        { "304 ends at its head, length or not", qhttp::EHTTP_GET,
            { "HTTP/1.1 304 Not Modified\r\nContent-Length: 5\r\n\r\n" }, false,
            { "request", "response", "end" }, 304, "" },
        { "an interim answer's length is not its body", qhttp::EHTTP_POST,
            { "HTTP/1.1 100 Continue\r\nContent-Length: 3\r\n\r\n",
                "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok" },
            false, { "request", "response", "end" }, 200, "ok" },
        { "a status below 100", qhttp::EHTTP_GET, { "HTTP/1.1 2 \r\nContent-Length: 0\r\n\r\n" },
            false, { "request", "error" }, 0, "" },
        { "a status above 599", qhttp::EHTTP_GET, { "HTTP/1.1 999 X\r\nContent-Length: 0\r\n\r\n" },
            false, { "request", "error" }, 0, "" },
        { "a coding besides chunking is not undone", qhttp::EHTTP_GET,
            { "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n" },
            false, { "request", "error" }, 0, "" },
        { "a coding alone, to the close", qhttp::EHTTP_GET,
            { "HTTP/1.1 200 OK\r\nTransfer-Encoding: deflate\r\n\r\nabc" }, true,
            { "request", "error" }, 0, "" },
        { "a 304 may name the coding its 200 would have", qhttp::EHTTP_GET,
            { "HTTP/1.1 304 Not Modified\r\nTransfer-Encoding: gzip, chunked\r\n\r\n" }, false,
            { "request", "response", "end" }, 304, "" },
        { "101: another protocol is not relayed", qhttp::EHTTP_GET,
            { "HTTP/1.1 101 Switching Protocols\r\nConnection: upgrade\r\nUpgrade: x\r\n\r\n" },
            false, { "request", "error" }, 0, "" },
    };
    for (const Case& c : cases) {
        target t;
        t.answer = c.answer;
        t.close_after = c.close_after;
        outcome out;
        QHttpClient client;
        run(&client, c.method, t.url("/a"), out, [](QHttpRequest* request) { request->end(); });
        ASSERT_TRUE(wait_until([&] { return finished(out); })) << c.behaviour;
        http_test::spin(20); // nothing more may follow the end or the error
        EXPECT_EQ(out.events, c.events) << c.behaviour;
        EXPECT_EQ(out.status, c.status) << c.behaviour;
        EXPECT_EQ(out.body, c.body) << c.behaviour;
    }
}

TEST(HttpClient, HeadersKeepArrivalOrderAndLetterCase)
{
    target t;
    t.answer = { "HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\ncontent-type: text/plain\r\n"
                 "Set-Cookie: b=2\r\nDate: x\r\nContent-Length: 0\r\n\r\n" };
    outcome out;
    QHttpClient client;
    run(&client, qhttp::EHTTP_GET, t.url(), out, [](QHttpRequest* request) { request->end(); });
    ASSERT_TRUE(wait_until([&] { return finished(out); }));
    const QList<QPair<QByteArray, QByteArray>> expected = {
        { "Set-Cookie", "a=1" },
        { "content-type", "text/plain" },
        { "Set-Cookie", "b=2" },
        { "Date", "x" },
        { "Content-Length", "0" },
    };
    EXPECT_EQ(out.headers, expected);
}

TEST(HttpClient, RefusedConnectionIsReported)
{
    quint16 closed_port = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        closed_port = probe.serverPort();
    }
    outcome out;
    QHttpClient client;
    client.setConnectingTimeOut(1000);
    run(&client, qhttp::EHTTP_GET, QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(closed_port)),
        out, [](QHttpRequest* request) { request->end(); });
    ASSERT_TRUE(wait_until([&] { return finished(out); }));
    http_test::spin(20);
    EXPECT_EQ(out.events, QStringList({ "error" }));
}

TEST(HttpClient, ConnectThatDoesNotCompleteTimesOut)
{
    // A listener that never accepts, with its queue full: further connects stay pending, as
    // toward a host that does not answer, yet all on loopback.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(address);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
    const quint16 port = ntohs(address.sin_port);
    std::vector<std::unique_ptr<QTcpSocket>> fillers;
    for (int i = 0; i < 4; ++i) {
        fillers.emplace_back(new QTcpSocket);
        fillers.back()->connectToHost(QStringLiteral("127.0.0.1"), port);
    }
    http_test::spin(100);
    const bool queue_full = std::any_of(fillers.begin(), fillers.end(),
        [](const auto& s) { return s->state() == QAbstractSocket::ConnectingState; });
    if (!queue_full) {
        ::close(listener);
        GTEST_SKIP()
            << "this kernel completes every loopback connect; no pending connect to time out";
    }

    outcome out;
    auto* client = new QHttpClient;
    QPointer<QHttpClient> alive(client);
    client->setConnectingTimeOut(100);
    // The owner releases the client from the time-out signal, as the forward does.
    QObject::connect(client, &QHttpClient::connectingTimeOut, client, &QObject::deleteLater);
    run(client, qhttp::EHTTP_GET, QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(port)), out,
        [](QHttpRequest* request) { request->end(); });
    EXPECT_TRUE(wait_until([&] { return finished(out); }));
    EXPECT_TRUE(wait_until([&] { return alive.isNull(); }));
    http_test::spin(20);
    EXPECT_EQ(out.events, QStringList({ "timeout" }));
    fillers.clear();
    ::close(listener);
}

TEST(HttpClient, DestroyingTheClientWhilePendingReportsNothing)
{
    struct Case
    {
        const char* behaviour;
        bool wait_for_head; // destroyed after the head arrived, before the body
    };
    for (const Case& c :
        { Case { "before any answer", false }, Case { "half-way through the body", true } }) {
        target t;
        if (c.wait_for_head)
            t.answer = { "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc" };
        outcome out;
        auto* client = new QHttpClient;
        run(client, qhttp::EHTTP_GET, t.url(), out, [](QHttpRequest* request) { request->end(); });
        ASSERT_TRUE(wait_until([&] {
            return c.wait_for_head ? out.events.contains("response") : !t.received.isEmpty();
        })) << c.behaviour;
        delete client;
        ASSERT_TRUE(wait_until([&] {
            return !t.socket || t.socket->state() == QAbstractSocket::UnconnectedState;
        })) << c.behaviour;
        http_test::spin(20);
        EXPECT_FALSE(out.events.contains("error")) << c.behaviour;
        EXPECT_FALSE(out.events.contains("end")) << c.behaviour;
    }
}

TEST(HttpClient, ReleasedFromItsOwnEndSignalWithDeleteLater)
{
    target t;
    t.answer = { "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok" };
    auto* client = new QHttpClient;
    QPointer<QHttpClient> alive(client);
    QByteArray relayed;
    client->request(
        qhttp::EHTTP_GET, t.url(), [](QHttpRequest* request) { request->end(); },
        [&](QHttpResponse* response) {
            response->collectData(-1);
            QObject::connect(response, &QHttpResponse::end, [&, response, client] {
                relayed = response->collectedData();
                client->deleteLater();
            });
        });
    ASSERT_TRUE(wait_until([&] { return alive.isNull(); }));
    EXPECT_EQ(relayed, "ok");
}

TEST(HttpClient, FailureDuringNestedLoopOfTheHandlerIsReportedAfterItReturns)
{
    target t;
    t.answer = { "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc" };
    t.close_after = true;
    QStringList events;
    QHttpClient client;
    QObject::connect(&client, &QHttpClient::connectionError, [&] { events << "error"; });
    client.request(
        qhttp::EHTTP_GET, t.url(), [](QHttpRequest* request) { request->end(); },
        [&](QHttpResponse*) {
            events << "response";
            // The target drops the connection while this runs.
            QEventLoop loop;
            QTimer::singleShot(100, &loop, &QEventLoop::quit);
            loop.exec();
            events << "handler returned";
        });
    ASSERT_TRUE(wait_until([&] { return events.contains("error"); }));
    EXPECT_EQ(events, QStringList({ "response", "handler returned", "error" }));
}

namespace {

// One GET (a POST when there is a body) through a fresh client; waits for its outcome.
outcome get_once(
    const QUrl& url, quint32 progress_ms = 0, qint64 answer_limit = -1, const QByteArray& body = {})
{
    outcome out;
    QHttpClient client;
    client.setProgressTimeOut(progress_ms);
    client.setAnswerLimit(answer_limit);
    run(&client, body.isEmpty() ? qhttp::EHTTP_GET : qhttp::EHTTP_POST, url, out,
        [body](QHttpRequest* request) { request->end(body); });
    EXPECT_TRUE(wait_until([&] { return finished(out); }));
    http_test::spin(10); // nothing more may follow the end or the error
    return out;
}

} // namespace

TEST(HttpClient, EachRequestHasAConnectionOfItsOwn)
{
    const QByteArray ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
    struct Case
    {
        const char* behaviour;
        QByteArray answer;
        QByteArray later;
        QStringList events; // of each of two requests, one after the other
        int requests; // that reached the target
    };
    const QStringList answered { "request", "response", "end" };
    const Case cases[] = {
        { "a keep-alive answer", ok, {}, answered, 2 },
        { "bytes beyond the answer", ok + "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nxx", {},
            answered, 2 },
        { "a stray answer in a later write", ok, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nxx",
            answered, 2 },
        { "read and closed without an answer: not sent again", {}, {}, { "request", "error" }, 2 },
    };
    for (const Case& c : cases) {
        counting_target t;
        t.answer = c.answer;
        t.later = c.later;
        for (int i = 0; i < 2; ++i) {
            const outcome out = get_once(t.url());
            EXPECT_EQ(out.events, c.events) << c.behaviour;
            EXPECT_EQ(out.body, c.events == answered ? "ok" : "") << c.behaviour;
        }
        EXPECT_EQ(t.accepted, 2) << c.behaviour;
        EXPECT_EQ(t.requests, c.requests) << c.behaviour;
    }
}

// Both limits at once: 150 ms without progress, a body of 10 bytes.
TEST(HttpClient, AnswerBeyondItsLimitsFails)
{
    struct Case
    {
        const char* behaviour;
        QList<QByteArray> answer;
        int gap_ms;
        QStringList events;
        int request_mib = 0; // taken by the target 1 MiB every gap_ms
    };
    const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Length: ";
    const Case cases[] = {
        { "takes a large request slowly, but never quiet for long", { head + "2\r\n\r\nok" }, 10,
            { "request", "response", "end" }, 24 },
        { "never answers", {}, 0, { "request", "error" } },
        { "stops within the body", { head + "10\r\n\r\nabc" }, 0,
            { "request", "response", "error" } },
        { "slow, but never quiet for long", { head + "4\r\n\r\n", "a", "b", "c", "d" }, 40,
            { "request", "response", "end" } },
        { "announced beyond the limit", { head + "11\r\n\r\n0123456789a" }, 0,
            { "request", "error" } },
        { "chunked beyond the limit",
            { "HTTP/1.1 200 OK\r\nTransfer-Encoding: "
              "chunked\r\n\r\n6\r\n012345\r\n5\r\n6789a\r\n0\r\n\r\n" },
            0, { "request", "response", "error" } },
        { "exactly the limit", { head + "10\r\n\r\n0123456789" }, 0,
            { "request", "response", "end" } },
    };
    for (const Case& c : cases) {
        target t;
        t.answer = c.answer;
        t.gap_ms = c.gap_ms;
        t.trickle_bytes = c.request_mib > 0 ? 1024 * 1024 : 0;
        const outcome out
            = get_once(t.url(), 150, 10, QByteArray(c.request_mib * 1024 * 1024, 'x'));
        EXPECT_EQ(out.events, c.events) << c.behaviour;
    }
}
