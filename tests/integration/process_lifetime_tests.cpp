#include "gateway_fixture.h"

#include <QFile>
#include <QHostAddress>
#include <QTcpSocket>
#include <algorithm>
#include <csignal>
#include <sys/resource.h>

namespace {

// Each connection holds a descriptor: at start the soft limit goes up to the hard one, and the
// log says what it is.
TEST_F(gateway_fixture, the_open_file_limit_is_raised_to_the_hard_limit_and_logged)
{
    rlimit limit {};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    // Started with a lower soft limit, as a shell's default often is.
    rlimit low = limit;
    low.rlim_cur = std::min<rlim_t>(limit.rlim_max, 256);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    start_gateway();
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);

    const QByteArray hard = QByteArray::number(qulonglong(limit.rlim_max));
    EXPECT_TRUE(gateway->wait_for_output(" Open file limit: " + hard + "\r\n"))
        << gateway->output().constData();
    QFile limits(QStringLiteral("/proc/%1/limits").arg(gateway->pid()));
    ASSERT_TRUE(limits.open(QIODevice::ReadOnly));
    EXPECT_TRUE(limits.readAll().simplified().contains("Max open files " + hard + " " + hard));
}

struct stop_case
{
    const char* behaviour;
    int signal;
};

// An operator's stop ends the event loop as its own end does: the listener and every client
// connection are closed, and the exit status is 0.
TEST_F(gateway_fixture, a_stop_signal_closes_everything_and_exits_with_zero)
{
    const stop_case cases[] = {
        { "SIGTERM, as a service manager stops it", SIGTERM },
        { "SIGINT, as Ctrl-C in a terminal stops it", SIGINT },
    };
    for (const stop_case& c : cases) {
        start_gateway();
        raw_http idle(gateway->port());
        ASSERT_TRUE(idle.connected()) << c.behaviour;
        idle.send("GET /nothing HTTP/1.1\r\nHost: x\r\n\r\n");
        raw_response answer;
        ASSERT_TRUE(idle.read(answer)) << c.behaviour; // kept alive, now idle

        ASSERT_EQ(::kill(pid_t(gateway->pid()), c.signal), 0) << c.behaviour;
        EXPECT_EQ(gateway->wait_for_exit(), 0) << c.behaviour << gateway->output().constData();
        EXPECT_TRUE(idle.wait_closed()) << c.behaviour;
        QTcpSocket late;
        late.connectToHost(QHostAddress::LocalHost, gateway->port());
        EXPECT_FALSE(late.waitForConnected(1000)) << c.behaviour;
        TearDown();
        gateway.reset();
    }
}

} // namespace
