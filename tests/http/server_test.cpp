#include "app/heap_trim.h"
#include "http_test_support.h"

#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace qhttp::server;
using http_test::peer;
using http_test::wait_until;

namespace {

// Echoes what the server made of the request, so the test can look at it from the client.
void echo(QHttpRequest* request, QHttpResponse* response)
{
    QByteArray headers;
    QList<qhttp::header_key> names = request->headers().keys();
    std::sort(names.begin(), names.end());
    for (const QByteArray& name : names)
        headers += name + "=" + request->headers().value(name) + ";";
    response->addHeader("x-method", request->methodString());
    response->addHeader("x-url", request->url().toString().toUtf8());
    response->addHeader("x-path", request->url().path(QUrl::FullyDecoded).toUtf8());
    response->addHeader("x-headers", headers);
    response->addHeader("x-peer", request->remoteAddress().toLatin1());
    response->end(request->collectedData());
}

} // namespace

TEST(HttpServer, RequestsReachTheHandlerAsSent)
{
    http_test::server s;
    s.handler = http_test::at_end(echo);
    struct Case
    {
        const char* behaviour;
        QByteArray request;
        QByteArray method, url, path, headers, body;
    };
    const Case cases[] = {
        { "GET with query; header names lower-cased, values as sent",
            "GET /a%20b?x=1%262 HTTP/1.1\r\nHost: h\r\nX-Mixed-Case: VaLue\r\n\r\n", "GET",
            "/a b?x=1%262", "/a b", "host=h;x-mixed-case=VaLue;", "" },
        { "repeated headers joined", "GET / HTTP/1.1\r\nAccept: a\r\naccept: b\r\n\r\n", "GET", "/",
            "/", "accept=a, b;", "" },
        { "POST body by Content-Length",
            "POST /p HTTP/1.1\r\nContent-Length: 11\r\n\r\nhello world", "POST", "/p", "/p",
            "content-length=11;", "hello world" },
        { "chunked body de-chunked",
            "PUT /c HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n "
            "world\r\n0\r\n\r\n",
            "PUT", "/c", "/c", "transfer-encoding=chunked;", "hello world" },
        { "DELETE", "DELETE /d HTTP/1.1\r\n\r\n", "DELETE", "/d", "/d", "", "" },
        { "dots that make no dot segment", "GET /a/.b/c./.../%2e%2e%2e HTTP/1.1\r\n\r\n", "GET",
            "/a/.b/c./.../...", "/a/.b/c./.../...", "", "" },
        { "binary body kept byte for byte",
            QByteArray("POST /b HTTP/1.1\r\nContent-Length: 4\r\n\r\n\0\r\n\xff", 43), "POST", "/b",
            "/b", "content-length=4;", QByteArray("\0\r\n\xff", 4) },
    };
    for (const Case& c : cases) {
        peer client(s.port());
        client.send(c.request);
        raw_response r;
        ASSERT_TRUE(client.read(r)) << c.behaviour;
        EXPECT_EQ(r.status, 200) << c.behaviour;
        EXPECT_EQ(r.header("x-method"), c.method) << c.behaviour;
        EXPECT_EQ(r.header("x-url"), c.url) << c.behaviour;
        EXPECT_EQ(r.header("x-path"), c.path) << c.behaviour;
        EXPECT_EQ(r.header("x-headers"), c.headers) << c.behaviour;
        EXPECT_EQ(r.header("x-peer"), "127.0.0.1") << c.behaviour;
        EXPECT_EQ(r.body, c.body) << c.behaviour;
    }
}

TEST(HttpServer, DualStackListenerReportsIpv4PeersInIpv4Form)
{
    QHttpServer http;
    QString peer_address;
    quint16 peer_port = 0;
    ASSERT_TRUE(
        http.listen(QHostAddress::Any, 0, [&](QHttpRequest* request, QHttpResponse* response) {
            peer_address = request->remoteAddress();
            peer_port = request->remotePort();
            response->end();
        }));
    peer client(http.serverPort());
    client.send("GET / HTTP/1.1\r\n\r\n");
    raw_response r;
    ASSERT_TRUE(client.read(r));
    EXPECT_EQ(peer_address, "127.0.0.1");
    EXPECT_NE(peer_port, 0);
}

// Nobody accepts while the loop does not turn: every connect of a burst completes only if the
// listener's backlog holds them all.
TEST(HttpServer, BurstOfConnectsWaitsInTheSystemsBacklog)
{
    QTemporaryDir dir;
    QFile somaxconn(dir.filePath("somaxconn"));
    ASSERT_TRUE(somaxconn.open(QIODevice::WriteOnly) && somaxconn.write("8192\n") == 5);
    somaxconn.close();
    EXPECT_EQ(qhttp::max_listen_backlog(QFile::encodeName(somaxconn.fileName())), 8192);
    EXPECT_EQ(qhttp::max_listen_backlog(QFile::encodeName(dir.filePath("absent"))), SOMAXCONN);

    http_test::server s;
    const int burst = std::min(qhttp::max_listen_backlog(), 200);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(s.port());
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const timeval wait { 3, 0 }; // for a connect that the backlog has no room for
    std::vector<int> connected;
    for (int i = 0; i < burst; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
            ::close(fd);
            break;
        }
        connected.push_back(fd);
    }
    EXPECT_EQ(int(connected.size()), burst);
    for (const int fd : connected)
        ::close(fd);
}

TEST(HttpServer, DescriptorReserveGrowsWithTheLimit)
{
    struct Case
    {
        qint64 limit;
        qint64 reserve;
    };
    const Case cases[] = { { 64, 16 }, { 1024, 16 }, { 1088, 17 }, { 1048576, 16384 } };
    for (const Case& c : cases)
        EXPECT_EQ(qhttp::descriptor_reserve::size_for(c.limit), c.reserve) << c.limit;
}

TEST(HttpServer, AnswerHeadersKeepOrderReplaceByNameAndCarryOneLength)
{
    http_test::server s;
    s.handler = [](QHttpRequest*, QHttpResponse* response) {
        response->setStatusCode(201);
        response->addHeader("content-security-policy", "first");
        response->addHeader("B-Header", "b");
        response->addHeader("Content-Length", "999");
        response->addHeader("Content-Security-Policy", "second");
        response->addHeader("a-header", "a");
        response->end("12345");
    };
    for (const QByteArray method : { "GET", "HEAD" }) {
        peer client(s.port());
        client.send(method + " / HTTP/1.1\r\n\r\n");
        raw_response r;
        ASSERT_TRUE(client.read(r, method == "HEAD")) << method.constData();
        EXPECT_EQ(r.status, 201);
        EXPECT_EQ(r.header_count("content-length"), 1);
        EXPECT_EQ(r.header("content-length"), "5");
        EXPECT_EQ(r.header_count("content-security-policy"), 1);
        EXPECT_EQ(r.header("content-security-policy"), "second");
        EXPECT_LT(r.index_of("content-security-policy"), r.index_of("B-Header"));
        EXPECT_LT(r.index_of("B-Header"), r.index_of("a-header"));
        // A HEAD answer carries no body: the next bytes on the wire are nothing at all.
        EXPECT_EQ(r.body, method == "HEAD" ? QByteArray() : QByteArray("12345"));
        http_test::spin(20);
        EXPECT_TRUE(client.pending().isEmpty());
    }
}

TEST(HttpServer, ExpectContinueGetsInterimAnswerBeforeTheBody)
{
    http_test::server s;
    s.handler = http_test::at_end(echo);
    peer client(s.port());
    client.send("POST /e HTTP/1.1\r\nContent-Length: 3\r\nExpect: 100-continue\r\n\r\n");
    raw_response interim;
    ASSERT_TRUE(client.read(interim));
    EXPECT_EQ(interim.status, 100);
    client.send("abc");
    raw_response r;
    ASSERT_TRUE(client.read(r));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "abc");
}

TEST(HttpServer, KeepAliveServesSeveralRequestsOnOneConnection)
{
    http_test::server s;
    s.handler = http_test::at_end(echo);
    peer client(s.port());
    for (int i = 0; i < 3; ++i) {
        client.send("GET /k" + QByteArray::number(i) + " HTTP/1.1\r\n\r\n");
        raw_response r;
        ASSERT_TRUE(client.read(r));
        EXPECT_EQ(r.header("x-url"), "/k" + QByteArray::number(i));
        EXPECT_TRUE(r.header("connection").isEmpty());
    }
    EXPECT_TRUE(client.connected());
}

TEST(HttpServer, ConnectionCloseRulesByVersion)
{
    http_test::server s;
    s.handler = http_test::at_end(echo);
    struct Case
    {
        const char* behaviour;
        QByteArray request;
        bool closes;
    };
    const Case cases[] = {
        { "1.1 asking to close", "GET / HTTP/1.1\r\nConnection: close\r\n\r\n", true },
        { "1.0 without keep-alive", "GET / HTTP/1.0\r\n\r\n", true },
        { "1.0 with keep-alive", "GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n", false },
        { "1.1 default", "GET / HTTP/1.1\r\n\r\n", false },
    };
    for (const Case& c : cases) {
        peer client(s.port());
        client.send(c.request);
        raw_response r;
        ASSERT_TRUE(client.read(r)) << c.behaviour;
        EXPECT_EQ(client.wait_closed(c.closes ? 5000 : 100), c.closes) << c.behaviour;
    }
}

TEST(HttpServer, PipelinedRequestsAreAnsweredInOrderEvenWhenTheFirstIsSlow)
{
    http_test::server s;
    QList<QByteArray> started;
    int answered = 0;
    s.handler = [&](QHttpRequest* request, QHttpResponse* response) {
        // One request at a time: each is handed over only after the previous answer.
        started << request->url().path().toUtf8() + "@" + QByteArray::number(answered);
        request->collectData(-1);
        QObject::connect(request, &QHttpRequest::end, request, [=, &answered] {
            // The first answer comes later, from a timer, as a broker reply would.
            const int delay = request->url().path() == "/slow" ? 50 : 0;
            QTimer::singleShot(delay, response, [=, &answered] {
                ++answered;
                response->end(request->url().path().toUtf8() + ":" + request->collectedData());
            });
        });
    };
    peer client(s.port());
    client.send("POST /slow HTTP/1.1\r\nContent-Length: 1\r\n\r\nA"
                "POST /fast HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nB\r\n0\r\n\r\n"
                "GET /last HTTP/1.1\r\n\r\n");
    raw_response r1, r2, r3;
    ASSERT_TRUE(client.read(r1));
    ASSERT_TRUE(client.read(r2));
    ASSERT_TRUE(client.read(r3));
    EXPECT_EQ(r1.body, "/slow:A");
    EXPECT_EQ(r2.body, "/fast:B");
    EXPECT_EQ(r3.body, "/last:");
    EXPECT_EQ(started, QList<QByteArray>({ "/slow@0", "/fast@1", "/last@2" }));
}

TEST(HttpServer, NextRequestWaitsForTheAsynchronousAnswer)
{
    http_test::server s;
    QList<QHttpResponse*> waiting;
    int handed_over = 0;
    s.handler = [&](QHttpRequest*, QHttpResponse* response) {
        ++handed_over;
        waiting << response;
    };
    peer client(s.port());
    client.send("GET /1 HTTP/1.1\r\n\r\nGET /2 HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(wait_until([&] { return handed_over == 1; }));
    http_test::spin(30);
    EXPECT_EQ(handed_over, 1);
    waiting.takeFirst()->end("one");
    ASSERT_TRUE(wait_until([&] { return handed_over == 2; }));
    waiting.takeFirst()->end("two");
    raw_response r1, r2;
    ASSERT_TRUE(client.read(r1));
    ASSERT_TRUE(client.read(r2));
    EXPECT_EQ(r1.body, "one");
    EXPECT_EQ(r2.body, "two");
}

TEST(HttpServer, RequestIsDestroyedAfterItsAnswerAndSecondEndIsIgnored)
{
    http_test::server s;
    QPointer<QHttpRequest> seen;
    bool destroyed = false;
    s.handler = http_test::at_end([&](QHttpRequest* request, QHttpResponse* response) {
        seen = request;
        QObject::connect(request, &QObject::destroyed, [&] { destroyed = true; });
        response->end("once");
        response->end("twice");
    });
    peer client(s.port());
    client.send("GET / HTTP/1.1\r\n\r\nGET / HTTP/1.1\r\n\r\n");
    raw_response r1, r2;
    ASSERT_TRUE(client.read(r1));
    ASSERT_TRUE(client.read(r2));
    EXPECT_EQ(r1.body, "once");
    EXPECT_EQ(r2.body, "once");
    EXPECT_TRUE(wait_until([&] { return destroyed && !seen; }));
}

// Bodies and answers far larger than the kernel's socket buffers go through whole and in
// order, with the next request already waiting behind them.
TEST(HttpServer, LargeBodiesAndAnswersCrossWhole)
{
    http_test::server s;
    s.handler = http_test::at_end([](QHttpRequest* request, QHttpResponse* response) {
        // Several times what the kernel takes at once on loopback.
        response->end(request->collectedData().repeated(8));
    });
    QByteArray big(3 * 1024 * 1024, Qt::Uninitialized);
    for (int i = 0; i < big.size(); ++i)
        big[i] = char('a' + i % 26);
    peer client(s.port());
    client.send("POST /big HTTP/1.1\r\nContent-Length: " + QByteArray::number(big.size())
        + "\r\n\r\n" + big + "POST /small HTTP/1.1\r\nContent-Length: 2\r\n\r\nok");
    raw_response first;
    ASSERT_TRUE(client.read(first, false, 20000));
    EXPECT_EQ(first.body.size(), 8 * big.size());
    EXPECT_TRUE(first.body == big.repeated(8));
    raw_response second;
    ASSERT_TRUE(client.read(second));
    EXPECT_EQ(second.body, QByteArray("ok").repeated(8));
}

// What a large answer held goes back to the system once its last byte has left: the trim that
// followed its handling came while most of it still waited for a client that reads slowly.
TEST(HttpServer, LargeAnswerIsTrimmedOnceItsLastByteHasLeft)
{
    int trims = 0;
    heap_trim trimmer([&trims] { ++trims; }, heap_trim::timing { 0, 60 * 1000 });
    heap_trim::install(&trimmer);
    http_test::server s;
    s.handler = http_test::at_end(
        [](QHttpRequest*, QHttpResponse* response) { response->end(QByteArray(16 << 20, 'a')); });
    QTcpSocket client;
    // The client takes little at a time, so most of the answer waits in the server.
    client.setReadBufferSize(64 * 1024);
    client.connectToHost(QHostAddress::LocalHost, s.port());
    ASSERT_TRUE(wait_until([&] { return client.state() == QAbstractSocket::ConnectedState; }));
    client.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 64 * 1024);
    client.write("GET / HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(wait_until([&] { return trims == 1; })) << "handled";

    qint64 received = 0;
    ASSERT_TRUE(wait_until(
        [&] {
            received += client.readAll().size();
            return received > 16 << 20;
        },
        20000));
    EXPECT_TRUE(wait_until([&] { return trims == 2; })) << "sent";
}
