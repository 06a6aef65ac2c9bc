#include "app/epoll_event_dispatcher.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using trace = QStringList;

// A connected pair of stream sockets, closed at the end of the case.
struct socket_pair
{
    int fd[2] = { -1, -1 };
    socket_pair() { socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fd); }
    ~socket_pair()
    {
        for (int f : fd)
            if (f >= 0)
                ::close(f);
    }
    void send(const char* text) { (void)::write(fd[1], text, strlen(text)); }
    QString receive()
    {
        char buf[64];
        const ssize_t got = ::read(fd[0], buf, sizeof buf);
        return got > 0 ? QString::fromLatin1(buf, int(got)) : QStringLiteral("eof");
    }
};

// Runs the loop until `quit_after_ms`, or until the case quits it earlier.
void run_loop(QEventLoop& loop, int quit_after_ms = 5000)
{
    QTimer::singleShot(quit_after_ms, &loop, [&] { loop.exit(1); });
    loop.exec();
}

struct dispatcher_case
{
    const char* behaviour;
    std::function<void(trace&)> run; // runs on a thread whose loop is the dispatcher
    trace expected;
};

const dispatcher_case cases[] = {
    { "single-shot timers fire once each, in deadline order",
        [](trace& t) {
            QEventLoop loop;
            QTimer::singleShot(30, [&] { t << "c"; });
            QTimer::singleShot(10, Qt::PreciseTimer, [&] { t << "a"; });
            QTimer::singleShot(20, [&] { t << "b"; });
            run_loop(loop, 80);
        },
        { "a", "b", "c" } },
    { "a repeating timer stopped from its own timeout fires no more",
        [](trace& t) {
            QEventLoop loop;
            QTimer timer;
            int count = 0;
            QObject::connect(&timer, &QTimer::timeout, [&] {
                if (++count == 3)
                    timer.stop();
            });
            timer.start(5);
            run_loop(loop, 200);
            t << QString::number(count);
        },
        { "3" } },
    { "a zero timer fires every turn, posted events interleaved",
        [](trace& t) {
            QEventLoop loop;
            QTimer timer;
            int count = 0;
            QObject::connect(&timer, &QTimer::timeout, [&] {
                QMetaObject::invokeMethod(
                    &loop, [&] { t << "posted"; }, Qt::QueuedConnection);
                if (++count == 2) {
                    timer.stop();
                    loop.quit();
                }
            });
            timer.start(0);
            run_loop(loop);
            t << QString::number(count);
        },
        { "posted", "2" } },
    { "a timer stopped before its time never fires; its id is forgotten",
        [](trace& t) {
            QEventLoop loop;
            QTimer timer;
            QObject::connect(&timer, &QTimer::timeout, [&] { t << "fired"; });
            timer.start(10);
            const int id = timer.timerId();
            timer.stop();
            run_loop(loop, 40);
            t << QString::number(QAbstractEventDispatcher::instance()->remainingTime(id));
        },
        { "-1" } },
    { "a timer is listed with its interval and the time it has left",
        [](trace& t) {
            QTimer precise, very_coarse;
            precise.setTimerType(Qt::PreciseTimer);
            precise.start(1000);
            very_coarse.setTimerType(Qt::VeryCoarseTimer);
            very_coarse.start(1400);
            QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance();
            const int left = d->remainingTime(precise.timerId());
            t << QString::number(left > 900 && left <= 1000);
            for (QTimer* timer : { &precise, &very_coarse }) {
                for (const auto& info : d->registeredTimers(timer))
                    t << QString::number(info.interval);
            }
        },
        { "1", "1000", "1000" } },
    { "posted events arrive in order, one posted while delivering after the rest",
        [](trace& t) {
            QEventLoop loop;
            QMetaObject::invokeMethod(
                &loop,
                [&] {
                    t << "a";
                    QMetaObject::invokeMethod(
                        &loop,
                        [&] {
                            t << "c";
                            loop.quit();
                        },
                        Qt::QueuedConnection);
                },
                Qt::QueuedConnection);
            QMetaObject::invokeMethod(
                &loop, [&] { t << "b"; }, Qt::QueuedConnection);
            run_loop(loop);
        },
        { "a", "b", "c" } },
    { "a post from another thread wakes a loop that waits for nothing else",
        [](trace& t) {
            QEventLoop loop;
            std::thread poster([&] {
                QThread::msleep(20);
                QMetaObject::invokeMethod(
                    &loop,
                    [&] {
                        t << "woken";
                        loop.quit();
                    },
                    Qt::QueuedConnection);
            });
            loop.exec();
            poster.join();
        },
        { "woken" } },
    { "an interrupt from another thread ends a wait at once",
        [](trace& t) {
            QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance();
            QTimer far;
            far.start(5000);
            std::thread other([d] {
                QThread::msleep(20);
                d->interrupt();
            });
            d->processEvents(QEventLoop::WaitForMoreEvents);
            t << QString::number(far.remainingTime() > 4000);
            other.join();
        },
        { "1" } },
    { "a read notifier fires when data arrives, and on the peer's hang-up",
        [](trace& t) {
            QEventLoop loop;
            socket_pair pair;
            QSocketNotifier reader(pair.fd[0], QSocketNotifier::Read);
            QObject::connect(&reader, &QSocketNotifier::activated, [&] {
                t << pair.receive();
                if (t.last() == "eof") {
                    reader.setEnabled(false);
                    loop.quit();
                }
            });
            QTimer::singleShot(10, [&] { pair.send("x"); });
            QTimer::singleShot(30, [&] {
                ::close(pair.fd[1]);
                pair.fd[1] = -1;
            });
            run_loop(loop);
        },
        { "x", "eof" } },
    { "read and write notifiers of one descriptor each fire; a disabled one is silent",
        [](trace& t) {
            QEventLoop loop;
            socket_pair pair;
            pair.send("x");
            QSocketNotifier reader(pair.fd[0], QSocketNotifier::Read);
            QSocketNotifier writer(pair.fd[0], QSocketNotifier::Write);
            reader.setEnabled(false);
            QObject::connect(&writer, &QSocketNotifier::activated, [&] {
                t << "writable";
                writer.setEnabled(false);
                QTimer::singleShot(20, [&] {
                    t << "enable";
                    reader.setEnabled(true);
                });
            });
            QObject::connect(&reader, &QSocketNotifier::activated, [&] {
                t << pair.receive();
                loop.quit();
            });
            run_loop(loop);
        },
        { "writable", "enable", "x" } },
    { "excluding notifiers or timers leaves them for a later turn",
        [](trace& t) {
            QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance();
            socket_pair pair;
            pair.send("x");
            QSocketNotifier reader(pair.fd[0], QSocketNotifier::Read);
            QObject::connect(&reader, &QSocketNotifier::activated, [&] { t << pair.receive(); });
            QTimer timer;
            QObject::connect(&timer, &QTimer::timeout, [&] { t << "timer"; });
            timer.start(0);
            d->processEvents(QEventLoop::ExcludeSocketNotifiers | QEventLoop::X11ExcludeTimers);
            t << "excluded";
            timer.stop();
            d->processEvents(QEventLoop::AllEvents);
        },
        { "excluded", "x" } },
    { "a timer running a nested loop does not fire inside it; the others do",
        [](trace& t) {
            QEventLoop loop;
            QTimer outer, other;
            int outer_count = 0;
            QObject::connect(&other, &QTimer::timeout, [&] {
                other.stop();
                t << "other";
            });
            QObject::connect(&outer, &QTimer::timeout, [&] {
                if (++outer_count > 1)
                    return;
                t << "nested";
                other.start(5);
                QEventLoop nested;
                QTimer::singleShot(40, &nested, &QEventLoop::quit);
                nested.exec();
                t << QString::number(outer_count);
                outer.stop();
                loop.quit();
            });
            outer.start(2);
            run_loop(loop);
        },
        { "nested", "other", "1" } },
    { "a new socket's notifier on a descriptor and at an address freed in the same turn fires",
        [](trace& t) {
            QEventLoop loop;
            auto old_pair = std::make_unique<socket_pair>();
            const int fd = old_pair->fd[0];
            alignas(QSocketNotifier) unsigned char place[sizeof(QSocketNotifier)];
            auto* old_reader = new (place) QSocketNotifier(fd, QSocketNotifier::Read);
            QAbstractEventDispatcher::instance()->processEvents(QEventLoop::AllEvents);
            old_reader->~QSocketNotifier();
            old_pair.reset();
            socket_pair pair;
            t << QString::number(pair.fd[0] == fd);
            auto* reader = new (place) QSocketNotifier(pair.fd[0], QSocketNotifier::Read);
            QObject::connect(reader, &QSocketNotifier::activated, [&] {
                t << pair.receive();
                loop.quit();
            });
            pair.send("x");
            run_loop(loop, 1000);
            reader->~QSocketNotifier();
        },
        { "1", "x" } },
    { "a timer running a nested loop does not spin it once it is due again",
        [](trace& t) {
            QTimer outer;
            outer.setTimerType(Qt::PreciseTimer);
            int turns = 0;
            QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
                [&] { ++turns; });
            QObject::connect(&outer, &QTimer::timeout, [&] {
                if (!t.isEmpty())
                    return;
                turns = 0; // the timer is due again, and again, while its nested loop runs
                QEventLoop nested;
                QTimer::singleShot(200, &nested, &QEventLoop::quit);
                nested.exec();
                outer.stop();
                t << (turns < 50 ? QStringLiteral("quiet") : QString::number(turns));
            });
            outer.start(5);
            QEventLoop loop;
            run_loop(loop, 300);
        },
        { "quiet" } },
};

TEST(EpollEventDispatcher, DeliversWhatQtLoopsExpect)
{
    for (const dispatcher_case& c : cases) {
        trace got;
        std::unique_ptr<QThread> thread(QThread::create([&] { c.run(got); }));
        thread->setEventDispatcher(new epoll_event_dispatcher);
        thread->start();
        ASSERT_TRUE(thread->wait(10000)) << c.behaviour;
        EXPECT_EQ(got.join(", "), c.expected.join(", ")) << c.behaviour;
    }
}

} // namespace
