#include "app/heap_trim.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

struct trim_count
{
    int trims = 0;
    heap_trim trimmer;
    explicit trim_count(heap_trim::timing times)
        : trimmer([this] { ++trims; }, times)
    {
        heap_trim::install(&trimmer);
    }
};

// Runs the loop until it has been about to wait for events `times` more times.
void let_loop_wait(int times)
{
    QEventLoop loop;
    int waits = 0;
    const auto connection = QObject::connect(
        QAbstractEventDispatcher::instance(QThread::currentThread()),
        &QAbstractEventDispatcher::aboutToBlock, &loop,
        [&] {
            if (++waits >= times)
                loop.quit();
            else // wakes it, so that it comes this way again
                QMetaObject::invokeMethod(
                    &loop, [] {}, Qt::QueuedConnection);
        },
        Qt::DirectConnection);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit); // a bound, not a figure
    loop.exec();
    QObject::disconnect(connection);
}

TEST(HeapTrim, FollowsALargeRequestOnceWhenTheLoopWaits)
{
    trim_count count(heap_trim::timing { 60 * 1000, 60 * 1000 });
    heap_trim::after_work(heap_trim::large_work_bytes - 1);
    let_loop_wait(3);
    EXPECT_EQ(count.trims, 0) << "a small request";

    heap_trim::after_work(heap_trim::large_work_bytes);
    EXPECT_EQ(count.trims, 0) << "not within the request: its memory is freed after it";
    let_loop_wait(3);
    EXPECT_EQ(count.trims, 1) << "a large request";
    let_loop_wait(3);
    EXPECT_EQ(count.trims, 1) << "once";

    // Within the interval from the previous trim: put off, however idle the loop.
    heap_trim::after_work(heap_trim::large_work_bytes);
    let_loop_wait(3);
    EXPECT_EQ(count.trims, 1) << "within the interval";
}

TEST(HeapTrim, NextTrimComesOnceTheIntervalIsOver)
{
    trim_count count(heap_trim::timing { 50, 60 * 1000 });
    heap_trim::after_work(heap_trim::large_work_bytes);
    heap_trim::after_work(heap_trim::large_work_bytes);
    let_loop_wait(3);
    ASSERT_EQ(count.trims, 1) << "two requests, one trim";
    heap_trim::after_work(heap_trim::large_work_bytes);
    QElapsedTimer bound;
    bound.start();
    while (count.trims < 2 && !bound.hasExpired(5000))
        let_loop_wait(1);
    EXPECT_EQ(count.trims, 2);
}

// A loop that always has work never waits: the trim comes after the longest wait all the same.
TEST(HeapTrim, ABusyLoopIsTrimmedAfterTheLongestWait)
{
    trim_count count(heap_trim::timing { 0, 20 });
    heap_trim::after_work(heap_trim::large_work_bytes);
    QElapsedTimer bound;
    bound.start();
    while (count.trims == 0 && !bound.hasExpired(5000))
        QCoreApplication::processEvents(); // never waits for events
    EXPECT_EQ(count.trims, 1);
}

} // namespace
