#include "router/statistics.h"

#include "app/int32_clamp.h"
#include "app/logger.h"

#include <limits>

void open_request_record(statistic_map& statistics, const QString& email, const QString& uuid,
    const QString& url, const clock_reading& now, int history_length)
{
    statistic& entry = statistics[email];
    const int cap = qMax(history_length, min_history_cap);
    // At the cap the oldest record makes room by becoming the newest: under load, when the
    // cap is reached between ticks, a request then costs no record of its own to allocate.
    if (entry.history.size() >= cap)
        entry.history.move(entry.history.size() - 1, 0);
    else
        entry.history.prepend(request_record());
    request_record& record = entry.history.first();
    record.status = WAIT;
    record.exec_ms = -1;
    record.uuid = uuid;
    record.url = url;
    record.time = now.wall;
    record.started_ms = now.monotonic_ms;
    entry.last_time = now.wall;
    entry.count_request += 1;

    while (entry.history.size() > cap)
        entry.history.removeLast();
}

namespace {

request_record* find_record(statistic& entry, const QString& uuid)
{
    for (request_record& record : entry.history) {
        if (record.uuid == uuid)
            return &record;
    }
    return nullptr;
}

double load_percent(qint64 exec_ms_sum, int period_ms)
{
    // A period of 0 may come from a hand-edited ini file: a busy client then counts as
    // infinitely loaded (banned) and an idle one as not a number (never banned).
    if (period_ms == 0) {
        if (exec_ms_sum == 0)
            return std::numeric_limits<double>::quiet_NaN();
        return exec_ms_sum > 0 ? std::numeric_limits<double>::infinity()
                               : -std::numeric_limits<double>::infinity();
    }
    return static_cast<double>(exec_ms_sum) / static_cast<double>(period_ms) * 100.0;
}

} // namespace

bool set_request_state(
    statistic_map& statistics, const QString& email, const QString& uuid, request_state state)
{
    auto entry = statistics.find(email);
    if (entry == statistics.end())
        return false;
    request_record* record = find_record(entry.value(), uuid);
    if (!record)
        return false;
    record->status = state;
    return true;
}

int request_done(const QString& email, const QString& uuid, statistic_map& statistics, logger& log)
{
    return request_done(email, uuid, statistics, log, clock_reading::monotonic_now_ms());
}

int request_done(const QString& email, const QString& uuid, statistic_map& statistics, logger& log,
    qint64 monotonic_ms)
{
    statistic& entry = statistics[email];
    request_record* record = find_record(entry, uuid);
    if (!record)
        return 0;
    record->exec_ms = clamp_to_int32(monotonic_ms - record->started_ms);
    record->status = EXECUTED;
    entry.exec_ms_sum += record->exec_ms;
    if (log.accepts(LOG_DEBUG))
        log_line(log, LOG_DEBUG)
            << QStringLiteral("%1 HTTP request executed %2 ms").arg(uuid).arg(record->exec_ms);
    return record->exec_ms;
}

bool is_banned(const statistic& entry, const QDateTime& now)
{
    return entry.banned_to.isValid() && now < entry.banned_to;
}

QString ban_message(const QDateTime& banned_to)
{
    return QStringLiteral("HTTP API load over permitted. Banned to %1 UTC")
        .arg(banned_to.toUTC().toString(QStringLiteral("yyyy.MM.dd hh:mm:ss")));
}

void statistic_tick(
    statistic_map& statistics, const statistic_settings& settings, const QDateTime& now)
{
    const int keep = qMax(settings.history_length, 0);
    const double ban_load = static_cast<double>(settings.ban_load);
    for (auto it = statistics.begin(); it != statistics.end(); ++it) {
        statistic& entry = it.value();
        if (entry.history.size() > keep)
            entry.history.erase(entry.history.begin() + keep, entry.history.end());

        const double load = load_percent(entry.exec_ms_sum, settings.period_ms);
        entry.api_load_percent = load;
        entry.exec_ms_sum = 0;
        // NaN compares false, so an idle client under a zero period is never banned.
        if (load > ban_load)
            entry.banned_to = now.addMSecs(settings.ban_time_ms);
    }
}
