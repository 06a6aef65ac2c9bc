#include "handlers/telecom/user_statistic_view.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

// The per-client statistics view at a fixed instant.

namespace {

const QDateTime now = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
const QDateTime start = now.addSecs(-(86400 + 3600 + 60 + 1));

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

statistic_map sample()
{
    statistic_map map;
    statistic& a = map["a@x"];
    a.history = { { WAIT, QDateTime(QDate(2026, 3, 1), QTime(11, 59, 58, 42), Qt::UTC), "/new",
                      "u2", -1 },
        { static_cast<request_state>(9), now.addSecs(-10), "/old", "u1", 12 } };
    a.count_request = 2;
    a.api_load_percent = 1.5;
    a.banned_to = QDateTime(QDate(2030, 1, 1), QTime(0, 0), Qt::UTC);
    statistic& b = map["b@x"];
    b.count_request = 7;
    b.banned_to = now.addSecs(-1);
    return map;
}

statistic_view_query query(std::initializer_list<std::pair<const char*, const char*>> items)
{
    statistic_view_query q;
    for (const auto& [key, value] : items) {
        const QString v = QString::fromUtf8(value);
        const QString k = QString::fromUtf8(key);
        if (k == "user")
            q.user = v;
        else if (k == "banned_to")
            q.banned_to = v;
        else if (k == "history")
            q.history = v;
        else if (k == "user_list")
            q.user_list = v;
        else if (k == "uptime")
            q.uptime = v;
    }
    return q;
}

TEST(user_statistic_view, answers_each_mode)
{
    const QByteArray a_last
        = R"("a@x":{"api_load_percent":1.5,"banned_to":"2030.01.01 00:00:00.000 UTC",)"
          R"("count_request":2,"last_exec_ms":-1,)"
          R"("last_time":"2026.03.01 11:59:58.042 UTC","last_url":"/new"})";
    const QByteArray b_plain
        = R"("b@x":{"api_load_percent":0,"banned_to":"2026.03.01 11:59:59.000 UTC",)"
          R"("count_request":7})";
    struct row
    {
        const char* behaviour;
        statistic_view_query q;
        QByteArray answer;
    };
    const row rows[] = {
        { "every client without parameters", query({}), "{" + a_last + "," + b_plain + "}" },
        { "named clients only; unknown names skipped", query({ { "user", "b@x,zz" } }),
            "{" + b_plain + "}" },
        { "an empty user names the empty client", query({ { "user", "" } }), "{}" },
        { "history instead of the last members; unknown state has no name",
            query({ { "user", "a@x" }, { "history", "true" } }),
            R"({"a@x":{"api_load_percent":1.5,"banned_to":"2030.01.01 00:00:00.000 UTC",)"
            R"("count_request":2,"history":[{"exec_ms":-1,"status":"WAIT",)"
            R"("time":"2026.03.01 11:59:58.042 UTC","url":"/new","uuid":"u2"},)"
            R"({"exec_ms":12,"status":"","time":"2026.03.01 11:59:50.000 UTC","url":"/old","uuid":"u1"}]}})" },
        { "history True does not switch it on", query({ { "user", "b@x" }, { "history", "True" } }),
            "{" + b_plain + "}" },
        { "banned lists only running bans", query({ { "user_list", "banned" } }),
            R"({"a@x":"2030.01.01 00:00:00.000 UTC"})" },
        { "count for every client, user not used",
            query({ { "user_list", "count" }, { "user", "a@x" } }), R"({"a@x":2,"b@x":7})" },
        { "last_url skips empty histories", query({ { "user_list", "last_url" } }),
            R"({"a@x":"/new"})" },
        { "last_exec_ms", query({ { "user_list", "last_exec_ms" } }), R"({"a@x":-1})" },
        { "an unknown selector", query({ { "user_list", "nope" } }), "{}" },
        { "uptime over a day; wins over user_list",
            query({ { "uptime", "" }, { "user_list", "count" } }),
            R"({"update":"2026.02.28 10:58:59.000 UTC","uptime":"1d01:01:01"})" },
    };
    for (const row& r : rows) {
        statistic_map map = sample();
        EXPECT_EQ(compact(statistic_view(map, r.q, start, now)), r.answer) << r.behaviour;
        EXPECT_EQ(map.size(), 2) << r.behaviour << ": only ban ends create entries";
    }
}

TEST(user_statistic_view, sets_ban_ends)
{
    struct row
    {
        const char* behaviour;
        statistic_view_query q;
        QStringList clients;
        QString ban_end; // of each listed client
    };
    const row rows[] = {
        { "a ban of two clients, one new",
            query({ { "user", "b@x,new@x" }, { "banned_to", "1893456000" } }), { "b@x", "new@x" },
            "2030.01.01 00:00:00.000 UTC" },
        { "beyond 2038 still bans", query({ { "user", "a@x" }, { "banned_to", "4102444800" } }),
            { "a@x" }, "2100.01.01 00:00:00.000 UTC" },
        { "not a number lifts the ban", query({ { "user", "a@x" }, { "banned_to", "soon" } }),
            { "a@x" }, "1970.01.01 00:00:00.000 UTC" },
        { "far beyond any date is held to the last",
            query({ { "user", "a@x" }, { "banned_to", "9223372036854775807" } }), { "a@x" },
            "9999.12.31 23:59:59.000 UTC" },
        { "no user: the empty client; uptime ignored",
            query({ { "banned_to", "0" }, { "uptime", "" } }), { "" },
            "1970.01.01 00:00:00.000 UTC" },
    };
    for (const row& r : rows) {
        statistic_map map = sample();
        EXPECT_EQ(compact(statistic_view(map, r.q, start, now)), R"({"status":"ok"})")
            << r.behaviour;
        for (const QString& client : r.clients)
            EXPECT_EQ(statistic_time_text(map.value(client).banned_to), r.ban_end) << r.behaviour;
    }
}

TEST(user_statistic_view, writes_uptime_as_days_and_clock)
{
    const std::pair<qint64, const char*> rows[]
        = { { 3599, "00:59:59" }, { 3 * 86400 + 4 * 3600 + 5 * 60 + 6, "3d04:05:06" },
              { 86399, "23:59:59" }, { -5, "00:00:00" } };
    for (const auto& [seconds, text] : rows)
        EXPECT_EQ(uptime_text(seconds), text) << seconds;
}

} // namespace
