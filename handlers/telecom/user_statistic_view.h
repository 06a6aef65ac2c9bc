#pragma once

#include "router/statistic.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <optional>

// What an administrator asks of the per-client request statistics; every item is optional.
struct statistic_view_query
{
    std::optional<QString> user; // client names, comma-separated
    std::optional<QString> banned_to; // seconds since 1970 UTC: sets the listed clients' ban end
    std::optional<QString> history; // "true": client objects carry their history
    std::optional<QString> user_list; // one question asked of every client
    std::optional<QString> uptime; // present: the start time and the running time
};

// A time as the view writes it, in UTC, e.g. "2024.08.30 09:05:07.042 UTC"; "" when unset.
QString statistic_time_text(const QDateTime& time);

// Whole seconds as "3d04:05:06", or "04:05:06" under one day; negative counts as 0.
QString uptime_text(qint64 seconds);

// One client's statistics: the newest request's time, duration and URL (or, with `history`,
// every request), the load, the request count and the ban end.
QJsonObject client_json(const statistic& entry, bool history);

// The answer of the view, computed at `now`. Setting ban ends (the "banned_to" mode) is the only
// change made to the map.
QJsonObject statistic_view(statistic_map& statistics, const statistic_view_query& query,
    const QDateTime& start_time, const QDateTime& now);
