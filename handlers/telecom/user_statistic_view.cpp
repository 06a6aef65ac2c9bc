#include "handlers/telecom/user_statistic_view.h"

#include "app/keyed_hash.h"

#include <QJsonArray>
#include <QSet>
#include <QStringList>
#include <algorithm>

namespace {

const QString time_pattern = QStringLiteral("yyyy.MM.dd hh:mm:ss.zzz 'UTC'");

// Ban ends are held to what a time text can show (years 1 to 9999).
constexpr qint64 earliest_seconds = -62135596800LL;
constexpr qint64 latest_seconds = 253402300799LL;

QDateTime ban_end_of(const QString& seconds_text)
{
    bool ok = false;
    const qint64 seconds = seconds_text.toLongLong(&ok, 10);
    return QDateTime::fromSecsSinceEpoch(
        ok ? std::clamp(seconds, earliest_seconds, latest_seconds) : 0, Qt::UTC);
}

QString state_text(request_state state)
{
    switch (state) {
    case WAIT:
    case EXECUTED:
    case FAIL_BAN_BY_TIME:
    case FAIL_TOKEN_INVALID:
    case FAIL_TOKEN_EXPIRED:
        return request_state_name(state);
    }
    return QString();
}

// The value of one client for the "user_list" question; undefined leaves the client out.
QJsonValue answer_of(const QString& selector, const statistic& entry, const QDateTime& now)
{
    if (selector == QLatin1String("banned"))
        return entry.banned_to.isValid() && entry.banned_to > now
            ? QJsonValue(statistic_time_text(entry.banned_to))
            : QJsonValue(QJsonValue::Undefined);
    if (selector == QLatin1String("banned_to"))
        return statistic_time_text(entry.banned_to);
    if (selector == QLatin1String("count"))
        return entry.count_request;
    if (entry.history.isEmpty())
        return QJsonValue(QJsonValue::Undefined);
    const request_record& newest = entry.history.first();
    if (selector == QLatin1String("last_time"))
        return statistic_time_text(newest.time);
    if (selector == QLatin1String("last_url"))
        return newest.url;
    if (selector == QLatin1String("last_exec_ms"))
        return newest.exec_ms;
    return QJsonValue(QJsonValue::Undefined);
}

} // namespace

QString statistic_time_text(const QDateTime& time)
{
    return time.isValid() ? time.toUTC().toString(time_pattern) : QString();
}

QString uptime_text(qint64 seconds)
{
    seconds = std::max<qint64>(seconds, 0);
    const qint64 days = seconds / 86400;
    const QString clock = QStringLiteral("%1:%2:%3")
                              .arg(seconds / 3600 % 24, 2, 10, QLatin1Char('0'))
                              .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                              .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return days > 0 ? QString::number(days) + QLatin1Char('d') + clock : clock;
}

QJsonObject client_json(const statistic& entry, bool history)
{
    QJsonObject client;
    if (history) {
        QJsonArray records;
        for (const request_record& record : entry.history)
            records.append(QJsonObject { { QStringLiteral("url"), record.url },
                { QStringLiteral("uuid"), record.uuid },
                { QStringLiteral("status"), state_text(record.status) },
                { QStringLiteral("time"), statistic_time_text(record.time) },
                { QStringLiteral("exec_ms"), record.exec_ms } });
        client.insert(QStringLiteral("history"), records);
    } else if (!entry.history.isEmpty()) {
        const request_record& newest = entry.history.first();
        client.insert(QStringLiteral("last_time"), statistic_time_text(newest.time));
        client.insert(QStringLiteral("last_exec_ms"), newest.exec_ms);
        client.insert(QStringLiteral("last_url"), newest.url);
    }
    client.insert(QStringLiteral("api_load_percent"), entry.api_load_percent);
    client.insert(QStringLiteral("count_request"), entry.count_request);
    client.insert(QStringLiteral("banned_to"), statistic_time_text(entry.banned_to));
    return client;
}

QJsonObject statistic_view(statistic_map& statistics, const statistic_view_query& query,
    const QDateTime& start_time, const QDateTime& now)
{
    const QStringList names = query.user.value_or(QString()).split(QLatin1Char(','));
    QJsonObject answer;
    if (query.banned_to) {
        const QDateTime ban_end = ban_end_of(*query.banned_to);
        for (const QString& name : names)
            statistics[name].banned_to = ban_end;
        answer.insert(QStringLiteral("status"), QStringLiteral("ok"));
    } else if (query.uptime) {
        answer.insert(QStringLiteral("update"), statistic_time_text(start_time));
        answer.insert(QStringLiteral("uptime"), uptime_text(start_time.secsTo(now)));
    } else if (query.user_list) {
        for (auto it = statistics.cbegin(); it != statistics.cend(); ++it) {
            const QJsonValue value = answer_of(*query.user_list, it.value(), now);
            if (!value.isUndefined())
                answer.insert(it.key(), value);
        }
    } else {
        const bool history = query.history == QStringLiteral("true");
        // Looked up once for every client: a set, as the names are the caller's to choose.
        QSet<keyed_text> named;
        if (query.user) {
            named.reserve(names.size());
            for (const QString& name : names)
                named.insert(name);
        }
        for (auto it = statistics.cbegin(); it != statistics.cend(); ++it) {
            if (!query.user || named.contains(it.key()))
                answer.insert(it.key(), client_json(it.value(), history));
        }
    }
    return answer;
}
