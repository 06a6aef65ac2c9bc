#include "gateway_fixture.h"
#include "http/qhttp_descriptor_reserve.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// Clients that do not play along: they never read, send their heads a byte at a time, or
// come when the gateway is out of descriptors. The gateway holds its memory, its deadlines and
// its other clients through all of them.

namespace {

// Field `index` (from 0) of /proc/<pid>/<file>; the binary's name holds no blank.
qint64 proc_field(qint64 pid, const char* file, int index)
{
    QFile f(QStringLiteral("/proc/%1/%2").arg(pid).arg(file));
    return f.open(QIODevice::ReadOnly) ? f.readAll().split(' ').value(index).toLongLong() : -1;
}

qint64 rss_kib(qint64 pid)
{
    return proc_field(pid, "statm", 1) * sysconf(_SC_PAGESIZE) / 1024;
}

qint64 cpu_ticks(qint64 pid)
{
    return proc_field(pid, "stat", 13) + proc_field(pid, "stat", 14);
}

// A plain non-blocking socket, so the test decides the receive buffer and never reads unless
// it means to.
struct raw_socket
{
    int fd = -1;
    // receive_buffer 0: the system's own, growing as needed.
    raw_socket(quint16 port, int receive_buffer)
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receive_buffer > 0)
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
        sockaddr_in to {};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
            ::close(fd);
            fd = -1;
            return;
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    ~raw_socket()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool wait(short events, int ms)
    {
        pollfd p { fd, events, 0 };
        return ::poll(&p, 1, ms) > 0;
    }
};

// Sends `bytes` while reading whatever comes, until the gateway ends the connection; false when
// it ended with a reset (or did not end within `wait_ms`).
bool exchange(raw_socket& client, const QByteArray& bytes, QByteArray& received, int wait_ms)
{
    qint64 sent = 0;
    char buffer[65536];
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < wait_ms) {
        const short events = POLLIN | (sent < bytes.size() ? POLLOUT : 0);
        client.wait(events, 100);
        if (sent < bytes.size()) {
            const ssize_t n = ::send(
                client.fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
            if (n > 0)
                sent += n;
        }
        ssize_t n;
        while ((n = ::recv(client.fd, buffer, sizeof buffer, 0)) > 0)
            received.append(buffer, int(n));
        if (n == 0)
            return true;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
    }
    return false;
}

// Counts the 404 answers in a stream that comes in pieces.
struct answer_counter
{
    QByteArray buf;
    qint64 answers = 0;
    void feed(const char* data, qint64 size)
    {
        static const QByteArray needle = "HTTP/1.1 404 ";
        buf.append(data, int(size));
        answers += buf.count(needle);
        buf = buf.right(needle.size() - 1); // a status line may have been cut
    }
};

} // namespace

// A client pipelining requests without ever reading its answers is no longer read once its
// unsent answers pass a bound, so TCP pushes it back instead of the gateway's memory growing;
// once it reads, it gets every answer.
TEST_F(gateway_fixture, a_client_that_never_reads_is_pushed_back_and_served_once_it_reads)
{
    QMap<QString, QString> ini = default_ini();
    ini["GENERAL_SETTINGS/LOG_LEVEL"] = "ERROR";
    // A sanitizer build would otherwise keep what is freed for a while, which is not growth.
    const QString asan = qEnvironmentVariable("ASAN_OPTIONS");
    gateway = std::make_unique<gateway_process>(ini,
        QMap<QString, QString> {
            { "ASAN_OPTIONS", (asan.isEmpty() ? "" : asan + ":") + "quarantine_size_mb=0" } });
    ASSERT_TRUE(gateway->start()) << gateway->output().constData();
    const qint64 pid = gateway->pid();
    ASSERT_EQ(get("/warm-up").status, 404);
    const qint64 rss_before = rss_kib(pid);

    raw_socket client(gateway->port(), 4096);
    ASSERT_GE(client.fd, 0);
    const QByteArray request = "GET /zzz HTTP/1.1\r\n\r\n";
    const QByteArray chunk = request.repeated(65536 / request.size());
    const qint64 goal = 32LL * 1024 * 1024;
    qint64 sent = 0;
    QElapsedTimer since_progress;
    QElapsedTimer total;
    since_progress.start();
    total.start();
    // Sends until everything went or the gateway has stopped taking more for a while.
    while (sent < goal && since_progress.elapsed() < 1500 && total.elapsed() < 60000) {
        const int offset = int(sent % chunk.size());
        const ssize_t n = ::send(
            client.fd, chunk.constData() + offset, size_t(chunk.size() - offset), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
            since_progress.restart();
        } else {
            client.wait(POLLOUT, 100);
        }
    }
    const qint64 rss_growth_kib = rss_kib(pid) - rss_before;
    EXPECT_LT(sent, goal) << "the gateway read everything while its answers stayed unsent";
    EXPECT_LT(rss_growth_kib, 10 * 1024) << "after " << sent << " bytes of requests";

    // The client reads now: every request it sent whole is answered.
    const qint64 requests = sent / request.size(); // a last one cut short is not answered
    answer_counter counter;
    char buffer[65536];
    total.restart();
    while (counter.answers < requests && total.elapsed() < 120000) {
        const ssize_t n = ::recv(client.fd, buffer, sizeof buffer, 0);
        if (n > 0)
            counter.feed(buffer, n);
        else if (n == 0)
            break;
        else
            client.wait(POLLIN, 100);
    }
    EXPECT_EQ(counter.answers, requests);
    EXPECT_TRUE(gateway->running());
}

// A head sent a byte at a time is cut off at its deadline (shortened through the test seam);
// idle keep-alive connections keep their own, longer time.
TEST_F(gateway_fixture, a_head_that_comes_too_slowly_closes_its_connection)
{
    QMap<QString, QString> ini = default_ini();
    ini["GENERAL_SETTINGS/LOG_LEVEL"] = "ERROR";
    gateway = std::make_unique<gateway_process>(
        ini, QMap<QString, QString> { { "GORVEX_TEST_HEAD_TIMEOUT_MS", "700" } });
    ASSERT_TRUE(gateway->start()) << gateway->output().constData();

    raw_http idle(gateway->port());
    raw_http slow(gateway->port());
    slow.send("GET /first HTTP/1.1\r\n\r\n");
    raw_response first;
    ASSERT_TRUE(slow.read(first));
    EXPECT_EQ(first.status, 404);
    QElapsedTimer clock;
    clock.start();
    const QByteArray head = "GET /second HTTP/1.1\r\nX-Slow: ";
    int sent = 0;
    bool closed = false;
    while (!closed && clock.elapsed() < 5000) {
        slow.send(head.mid(sent % head.size(), 1)); // a byte every 100 ms, never the end
        ++sent;
        closed = slow.wait_closed(100);
    }
    EXPECT_TRUE(closed);
    EXPECT_GE(clock.elapsed(), 600);
    EXPECT_LT(clock.elapsed(), 3000);

    idle.send("GET /later HTTP/1.1\r\n\r\n");
    raw_response later;
    ASSERT_TRUE(idle.read(later)) << "an idle connection outlives the head deadline";
    EXPECT_EQ(later.status, 404);
}

// Out of descriptors, the sanitizer's own memory probe (it needs a pipe) fails, and its dynamic
// type check then reports any virtual call it has not yet cached: noise that says nothing of the
// gateway, so a gateway brought to its descriptor limit runs without that check.
class descriptor_limit_test : public gateway_fixture
{
protected:
    void start_gateway_for_the_limit()
    {
        QFile suppressions(scratch.filePath("ubsan.supp"));
        ASSERT_TRUE(suppressions.open(QIODevice::WriteOnly));
        suppressions.write("vptr:*\n");
        suppressions.close();
        const QByteArray ubsan = qgetenv("UBSAN_OPTIONS");
        qputenv("UBSAN_OPTIONS", ubsan + ":suppressions=" + suppressions.fileName().toUtf8());
        QMap<QString, QString> ini = default_ini();
        ini["GENERAL_SETTINGS/LOG_LEVEL"] = "WARNING";
        gateway = std::make_unique<gateway_process>(
            ini, QMap<QString, QString> { { "GORVEX_TEST_HEAD_TIMEOUT_MS", "100" } });
        const bool started = gateway->start();
        if (ubsan.isNull())
            qunsetenv("UBSAN_OPTIONS");
        else
            qputenv("UBSAN_OPTIONS", ubsan);
        ASSERT_TRUE(started) << gateway->output().constData();
        // The check cannot tell what it suppresses without its probe, so the virtual calls of
        // a timer event are made before the shortage: a head time-out fires first.
        raw_http slow(gateway->port());
        slow.send("GET /slow HTTP/1.1\r\n");
        ASSERT_TRUE(slow.wait_closed());
    }
    int open_descriptors() const
    {
        return QDir(QStringLiteral("/proc/%1/fd").arg(gateway->pid()))
            .entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)
            .size();
    }
    void set_limit(int limit) const
    {
        const QString text = QString::number(limit);
        ASSERT_EQ(
            QProcess::execute("prlimit",
                { "--pid", QString::number(gateway->pid()), "--nofile=" + text + ":" + text }),
            0);
        // The gateway reads its limit again a while after the last reading, not per connection.
        QThread::msleep(2 * qhttp::descriptor_reserve::recount_interval_ms);
    }
    QTemporaryDir scratch;
};

// The descriptors the listener leaves free near the limit (the smallest reserve).
constexpr int smallest_reserve = 16;

// Out of descriptors, the gateway stops accepting for a moment instead of spinning on its
// listener, keeps serving the connections it has, warns at most once a minute, and takes the
// waiting client as soon as descriptors are free again.
TEST_F(descriptor_limit_test, out_of_descriptors_pauses_accepting_and_keeps_serving)
{
    start_gateway_for_the_limit();
    const qint64 pid = gateway->pid();
    set_limit(open_descriptors() + smallest_reserve + 2);

    // Connections are taken until only the reserve is free; the first one left unserved waits in
    // the backlog (the links to the absent broker may hold a descriptor or not meanwhile).
    std::vector<std::unique_ptr<raw_http>> held;
    std::unique_ptr<raw_http> waiting;
    while (!waiting && held.size() < 10) {
        auto next = std::make_unique<raw_http>(gateway->port());
        next->send("GET /held HTTP/1.1\r\n\r\n");
        raw_response r;
        if (next->read(r, 1000))
            held.push_back(std::move(next));
        else
            waiting = std::move(next);
    }
    ASSERT_TRUE(waiting) << "the descriptor limit was not reached";
    ASSERT_FALSE(held.empty());
    ASSERT_TRUE(gateway->wait_for_output("out of file descriptors", 5000))
        << gateway->output().constData();

    const int warnings = gateway->output().count("out of file descriptors");
    const qint64 cpu_before = cpu_ticks(pid);
    QThread::msleep(1000); // several retries
    EXPECT_LT(cpu_ticks(pid) - cpu_before, sysconf(_SC_CLK_TCK) / 4) << "no busy loop";
    EXPECT_EQ(gateway->output().count("out of file descriptors"), warnings)
        << "one warning for the whole shortage, not one per retry";
    held.front()->send("GET /again HTTP/1.1\r\n\r\n");
    raw_response again;
    ASSERT_TRUE(held.front()->read(again)) << "open connections are still served";
    EXPECT_EQ(again.status, 404);

    // Connections that come and go at the limit: each leaves the next one waiting again, and
    // none brings a warning of its own.
    for (int churn = 0; churn < 3; ++churn) {
        held.erase(held.begin());
        raw_response taken;
        ASSERT_TRUE(waiting->read(taken, 5000)) << "taken when a descriptor is free " << churn;
        held.push_back(std::move(waiting));
        waiting = std::make_unique<raw_http>(gateway->port());
        waiting->send("GET /held HTTP/1.1\r\n\r\n");
        ASSERT_FALSE(waiting->read(taken, 500)) << "left waiting at the limit " << churn;
    }
    EXPECT_EQ(gateway->output().count("out of file descriptors"), warnings) << "one a minute";

    held.clear();
    raw_response answer;
    ASSERT_TRUE(waiting->read(answer, 5000)) << "accepted once descriptors are free";
    EXPECT_EQ(answer.status, 404);
}

// A client that asks for the close, or speaks 1.0, and goes on sending gets the whole of its last
// answer: the gateway reads and drops what follows until the client has had the end. A client
// that then keeps the connection open does not hold up a stop.
TEST_F(gateway_fixture, the_last_answer_arrives_whole_while_the_client_still_sends)
{
    const QByteArray body(1024 * 1024, 'b');
    const QByteArray answer
        = "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n";
    target.script(http_target::behaviour::answer, answer + body);
    start_gateway({ { "GENERAL_SETTINGS/LOG_LEVEL", "ERROR" } });
    const QByteArray auth = "Authorization: Bearer " + token(payload()) + "\r\n";
    const QByteArray more = QByteArray("GET /api/y HTTP/1.1\r\n\r\n").repeated(80000); // 2 MB
    struct row
    {
        const char* behaviour;
        QByteArray request;
    };
    const row rows[] = {
        { "1.1 asking to close", "GET /api/x HTTP/1.1\r\nConnection: close\r\n" + auth + "\r\n" },
        { "1.0", "GET /api/x HTTP/1.0\r\n" + auth + "\r\n" },
    };
    for (const row& r : rows) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            raw_socket client(gateway->port(), 0);
            ASSERT_GE(client.fd, 0);
            QByteArray received;
            EXPECT_TRUE(exchange(client, r.request + more, received, 20000))
                << r.behaviour << ": reset after " << received.size() << " bytes";
            const int head_end = received.indexOf("\r\n\r\n") + 4;
            EXPECT_EQ(received.size() - head_end, body.size()) << r.behaviour;
            EXPECT_TRUE(received.endsWith(body.right(100))) << r.behaviour;
        }
    }

    raw_socket lingering(gateway->port(), 0);
    QByteArray received;
    const QByteArray last = "GET /nothing HTTP/1.0\r\n\r\n";
    ::send(lingering.fd, last.constData(), size_t(last.size()), MSG_NOSIGNAL);
    while (!received.contains("\r\n\r\n") && lingering.wait(POLLIN, 5000)) {
        char buffer[4096];
        const ssize_t n = ::recv(lingering.fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        received.append(buffer, int(n));
    }
    ASSERT_TRUE(received.startsWith("HTTP/1.1 404"));
    QElapsedTimer stopping;
    stopping.start();
    gateway->stop();
    EXPECT_LT(stopping.elapsed(), 2000) << "a stop does not wait for lingering connections";
}

// At the limit the listener leaves descriptors free for the connections it has: their forwards
// all go through while a crowd waits to be accepted, and the crowd's successors are served once
// it has left.
TEST_F(descriptor_limit_test, descriptors_are_held_back_for_the_forwards_of_open_connections)
{
    start_gateway_for_the_limit();
    const QByteArray forward
        = "GET /api/x HTTP/1.1\r\nAuthorization: Bearer " + token(payload()) + "\r\n\r\n";
    std::vector<std::unique_ptr<raw_http>> clients;
    for (int i = 0; i < 8; ++i) {
        clients.push_back(std::make_unique<raw_http>(gateway->port()));
        clients.back()->send(forward);
        raw_response r;
        ASSERT_TRUE(clients.back()->read(r));
        ASSERT_EQ(r.status, 200);
    }
    set_limit(64);
    std::vector<std::unique_ptr<raw_socket>> crowd;
    for (int i = 0; i < 150; ++i)
        crowd.push_back(std::make_unique<raw_socket>(gateway->port(), 0));
    ASSERT_TRUE(gateway->wait_for_output("out of file descriptors", 5000))
        << gateway->output().constData();

    QMap<int, int> statuses;
    for (int round = 0; round < 10; ++round) {
        for (auto& client : clients)
            client->send(forward);
        for (auto& client : clients) {
            raw_response r;
            ++statuses[client->read(r) ? r.status : 0];
        }
    }
    EXPECT_EQ(statuses.value(200), 80) << "answers by status: " << statuses.size();
    for (auto it = statuses.begin(); it != statuses.end(); ++it)
        EXPECT_TRUE(it.key() == 200) << it.value() << " answered " << it.key();

    crowd.clear();
    const raw_response later = raw_http::request(
        gateway->port(), "GET", "/api/x", { bearer(token(payload())) }, {}, 10000);
    EXPECT_EQ(later.status, 200) << "served once the crowd has left";
}
