#include "router/statistics.h"

#include "app/logger.h"
#include "qt_print.h"

#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

const QDateTime t0 = QDateTime(QDate(2024, 3, 1), QTime(12, 0, 0), Qt::UTC);

// `ms` after t0 on both clocks, the monotonic one counting from an arbitrary origin.
clock_reading at(qint64 ms)
{
    return { t0.addMSecs(ms), 5000 + ms };
}

class RequestDone : public ::testing::Test
{
protected:
    QString log_text()
    {
        QFile file(log_path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QTemporaryDir dir;
    QString log_path = dir.filePath("router.log");
    logger log { log_path, "", LOG_DEBUG };
    statistic_map map;
};

TEST_F(RequestDone, MarksTheRecordAndAddsItsTime)
{
    open_request_record(map, "a@x", "{u1}", "/gateway/reboot", at(0), 10);
    open_request_record(map, "a@x", "{u2}", "/gateway/time", at(100), 10);

    EXPECT_EQ(request_done("a@x", "{u1}", map, log, at(250).monotonic_ms), 250);

    const statistic& entry = map["a@x"];
    ASSERT_EQ(entry.history.size(), 2);
    EXPECT_EQ(entry.history.at(1).uuid, "{u1}");
    EXPECT_EQ(entry.history.at(1).status, EXECUTED);
    EXPECT_EQ(entry.history.at(1).exec_ms, 250);
    EXPECT_EQ(entry.history.at(0).status, WAIT);
    EXPECT_EQ(entry.history.at(0).exec_ms, -1);
    EXPECT_EQ(entry.exec_ms_sum, 250);
    EXPECT_TRUE(log_text().contains("{u1} HTTP request executed 250 ms"))
        << log_text().toStdString();
}

TEST_F(RequestDone, UnknownRequestChangesNothing)
{
    open_request_record(map, "a@x", "{u1}", "/x", at(0), 10);
    EXPECT_EQ(request_done("a@x", "{gone}", map, log, at(1000).monotonic_ms), 0);
    EXPECT_EQ(request_done("b@x", "{u1}", map, log, at(1000).monotonic_ms), 0);
    EXPECT_EQ(map["a@x"].exec_ms_sum, 0);
    EXPECT_EQ(map["a@x"].history.at(0).status, WAIT);
    EXPECT_FALSE(log_text().contains("executed"));
}

// Execution times, and the load and ban that follow from them, are measured on the monotonic
// clock: a step of the wall clock while a request runs changes neither.
TEST_F(RequestDone, AStepOfTheWallClockDoesNotCount)
{
    const qint64 hour = 3600 * 1000;
    const struct
    {
        const char* behaviour;
        qint64 wall_step_ms;
    } rows[] = {
        { "no step", 0 },
        { "stepped an hour forward", hour },
        { "stepped an hour back", -hour },
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.behaviour);
        statistic_map stats;
        open_request_record(stats, "a@x", "{u1}", "/x", at(0), 10);
        clock_reading done = at(1500);
        done.wall = done.wall.addMSecs(r.wall_step_ms);
        EXPECT_EQ(request_done("a@x", "{u1}", stats, log, done.monotonic_ms), 1500);
        EXPECT_EQ(stats["a@x"].history.at(0).time, t0) << "the shown time stays the wall time";
        statistic_tick(stats, statistic_settings {}, done.wall);
        EXPECT_DOUBLE_EQ(stats["a@x"].api_load_percent, 2.5);
        EXPECT_FALSE(stats["a@x"].banned_to.isValid());
    }
}

TEST(OpenRequestRecord, PrependsAWaitingRecordAndCounts)
{
    statistic_map map;
    open_request_record(map, "", "{1}", "/a?x=1", at(0), 10);
    open_request_record(map, "", "{2}", "/b", at(5000), 10);
    const statistic& entry = map[""];
    EXPECT_EQ(entry.count_request, 2);
    EXPECT_EQ(entry.last_time, t0.addSecs(5));
    ASSERT_EQ(entry.history.size(), 2);
    EXPECT_EQ(entry.history.at(0).uuid, "{2}");
    EXPECT_EQ(entry.history.at(0).time, t0.addSecs(5));
    EXPECT_EQ(entry.history.at(1).url, "/a?x=1");

    EXPECT_TRUE(set_request_state(map, "", "{1}", FAIL_TOKEN_EXPIRED));
    EXPECT_EQ(map[""].history.at(1).status, FAIL_TOKEN_EXPIRED);
    EXPECT_FALSE(set_request_state(map, "", "{3}", FAIL_TOKEN_EXPIRED));
    EXPECT_FALSE(set_request_state(map, "nobody", "{1}", FAIL_TOKEN_EXPIRED));
    map[""].count_request = std::numeric_limits<qint32>::max();
    open_request_record(map, "", "{4}", "/c", at(0), 10);
    EXPECT_EQ(map[""].count_request, qint64(1) << 31) << "counts on past 32 bits";
}

TEST(OpenRequestRecord, CapsTheHistoryBetweenTicks)
{
    struct Case
    {
        const char* name;
        int history_length;
        int requests;
        int kept;
    };
    const Case cases[] = {
        { "short_length_still_keeps_the_floor", 10, min_history_cap + 5, min_history_cap },
        { "negative_length_keeps_the_floor", -3, min_history_cap + 1, min_history_cap },
        { "longer_length_wins_over_the_floor", min_history_cap + 50, min_history_cap + 20,
            min_history_cap + 20 },
    };
    for (const Case& c : cases) {
        statistic_map map;
        logger log(QStringLiteral("stderr"), QString(), LOG_OFF);
        for (int i = 0; i < c.requests; ++i) {
            const QString id = QString::number(i);
            open_request_record(map, "", id, "/" + id, at(i), c.history_length);
            request_done("", id, map, log, at(i + 7).monotonic_ms); // records reused must be reset
        }
        const statistic& entry = map[""];
        EXPECT_EQ(entry.history.size(), c.kept) << c.name;
        EXPECT_EQ(entry.count_request, c.requests) << c.name;
        EXPECT_EQ(entry.history.front().uuid, QString::number(c.requests - 1)) << c.name;
        EXPECT_EQ(entry.history.back().uuid, QString::number(c.requests - c.kept)) << c.name;

        const QString next = QString::number(c.requests);
        open_request_record(map, "", next, "/next", at(99000), c.history_length);
        const request_record& newest = map[""].history.front();
        EXPECT_EQ(newest.uuid, next) << c.name;
        EXPECT_EQ(newest.url, "/next") << c.name;
        EXPECT_EQ(newest.time, t0.addSecs(99)) << c.name;
        EXPECT_EQ(newest.status, WAIT) << c.name;
        EXPECT_EQ(newest.exec_ms, -1) << c.name;
        EXPECT_EQ(map[""].history.size(), qMin(c.kept + 1, qMax(c.history_length, min_history_cap)))
            << c.name;
        EXPECT_EQ(map[""].history.at(1).uuid, QString::number(c.requests - 1)) << c.name;
    }
}

struct TickCase
{
    const char* name;
    statistic_settings settings;
    int history;
    qint64 exec_ms_sum;
    QDateTime banned_before;
    int history_after;
    double load; // NaN: expect not a number
    QDateTime banned_after;
};

class StatisticTick : public ::testing::TestWithParam<TickCase>
{ };

TEST_P(StatisticTick, CutsLoadsAndBans)
{
    const TickCase& c = GetParam();
    statistic_map map;
    for (int i = 0; i < c.history; ++i)
        open_request_record(map, "c@x", QString::number(i), "/", at(0), 10);
    map["c@x"].exec_ms_sum = c.exec_ms_sum;
    map["c@x"].banned_to = c.banned_before;

    const QDateTime now = t0.addSecs(60);
    statistic_tick(map, c.settings, now);

    const statistic& entry = map["c@x"];
    EXPECT_EQ(entry.history.size(), c.history_after);
    if (c.history_after > 0) {
        EXPECT_EQ(entry.history.front().uuid, QString::number(c.history - 1)); // newest kept
    }
    if (std::isnan(c.load)) {
        EXPECT_TRUE(std::isnan(entry.api_load_percent));
    } else {
        EXPECT_DOUBLE_EQ(entry.api_load_percent, c.load);
    }
    EXPECT_EQ(entry.exec_ms_sum, 0);
    EXPECT_EQ(entry.banned_to, c.banned_after);
}

const statistic_settings defaults {};
const QDateTime next = t0.addSecs(60);
const double nan = std::nan("");
const double inf = INFINITY;

INSTANTIATE_TEST_SUITE_P(Ticks, StatisticTick,
    ::testing::Values(TickCase { "eleven_records_cut_to_ten", defaults, 11, 0, {}, 10, 0.0, {} },
        TickCase { "short_history_untouched", defaults, 3, 0, {}, 3, 0.0, {} },
        TickCase { "length_zero_empties", { 0, 60000, 50, 600000 }, 4, 0, {}, 0, 0.0, {} },
        TickCase {
            "negative_length_counts_as_zero", { -5, 60000, 50, 600000 }, 4, 0, {}, 0, 0.0, {} },
        TickCase { "load_equal_to_limit_does_not_ban", defaults, 1, 30000, {}, 1, 50.0, {} },
        TickCase { "load_above_limit_bans", defaults, 1, 30001, {}, 1, 30001.0 / 600.0,
            next.addMSecs(600000) },
        TickCase { "concurrent_requests_exceed_100_percent", defaults, 1, 90000, {}, 1, 150.0,
            next.addMSecs(600000) },
        TickCase { "ban_moves_forward", defaults, 1, 60000, next.addSecs(10), 1, 100.0,
            next.addMSecs(600000) },
        TickCase { "quiet_tick_keeps_the_ban", defaults, 1, 0, next.addSecs(10), 1, 0.0,
            next.addSecs(10) },
        TickCase { "sum_beyond_32_bits", { 10, 60000, 50, 1000 }, 1, 3000000000LL, {}, 1, 5000000.0,
            next.addMSecs(1000) },
        TickCase { "zero_period_busy_client_is_banned", { 10, 0, 50, 600000 }, 1, 1, {}, 1, inf,
            next.addMSecs(600000) },
        TickCase { "zero_period_idle_client_is_not", { 10, 0, 50, 600000 }, 1, 0, {}, 1, nan, {} }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LoadBan, BanRunsUntilItsEnd)
{
    statistic entry;
    EXPECT_FALSE(is_banned(entry, t0)); // never banned
    entry.banned_to = t0.addSecs(1);
    EXPECT_TRUE(is_banned(entry, t0));
    EXPECT_FALSE(is_banned(entry, t0.addSecs(1)));
    EXPECT_FALSE(is_banned(entry, t0.addSecs(2)));
}

TEST(LoadBan, MessageCarriesTheEndInUtc)
{
    const QDateTime end(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::UTC);
    EXPECT_EQ(ban_message(end), "HTTP API load over permitted. Banned to 2024.01.02 03:04:05 UTC");
    EXPECT_EQ(ban_message(end.toOffsetFromUtc(3 * 3600)),
        "HTTP API load over permitted. Banned to 2024.01.02 03:04:05 UTC");
}

} // namespace
