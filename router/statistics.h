#pragma once

#include "router/clock_reading.h"
#include "router/statistic.h"

#include <QDateTime>
#include <QString>

class logger;

// The statistics limits a tick works with; periods in milliseconds.
struct statistic_settings
{
    int history_length = 10;
    int period_ms = 60000;
    int ban_load = 50;
    int ban_time_ms = 600000;
};

// Between two ticks a history may grow past the configured length; this floor keeps a flood
// of requests (all token-less callers share one entry) from growing it without bound.
constexpr int min_history_cap = 1000;

// Opens the record of a request just taken in: prepends a WAIT record to the caller's
// history, stamps it and `last_time` with the wall time, starts its execution time on the
// monotonic clock and counts the request. The history is capped at
// max(history_length, min_history_cap), dropping the oldest records.
void open_request_record(statistic_map& statistics, const QString& email, const QString& uuid,
    const QString& url, const clock_reading& now, int history_length);

// Sets the state of the caller's record of request `uuid`; false when it is no longer there.
bool set_request_state(
    statistic_map& statistics, const QString& email, const QString& uuid, request_state state);

// Marks the record of request `uuid` executed, adds its execution time to the period's sum
// and logs it. Returns the execution time in ms (on the monotonic clock), or 0 when the record
// is gone.
int request_done(const QString& email, const QString& uuid, statistic_map& statistics, logger& log);
int request_done(const QString& email, const QString& uuid, statistic_map& statistics, logger& log,
    qint64 monotonic_ms);

// Whether a client's load ban is still running at `now`.
bool is_banned(const statistic& entry, const QDateTime& now);

// The text of the 429 answer to a banned client.
QString ban_message(const QDateTime& banned_to);

// One statistics period has ended: cut histories, turn each client's execution time into a
// load in percent, and ban the clients above the limit.
void statistic_tick(
    statistic_map& statistics, const statistic_settings& settings, const QDateTime& now);
