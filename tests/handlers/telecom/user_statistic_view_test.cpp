#include "handlers/telecom/user_statistic_view.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

// The per-client statistics view at a fixed instant.

namespace {

const QDateTime now(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);

statistic_map sample()
{
    statistic_map map;
    statistic& a = map["a@x"];
    a.history = { { EXECUTED, now.addMSecs(-1958), "/new", "u2", 7 },
        { static_cast<request_state>(9), now.addSecs(-10), "/old", "u1", 12 } };
    a.count_request = 2;
    a.banned_to = QDateTime(QDate(2030, 1, 1), QTime(0, 0), Qt::UTC);
    map["b@x"].count_request = (qint64(1) << 32) + 7; // past 32 bits, written whole
    map["b@x"].banned_to = now; // ends now: no longer banned
    return map;
}

TEST(user_statistic_view, answers_each_mode)
{
    const char* const none = nullptr; // an absent item; "" is present and empty
    const auto q = [](const char* user = nullptr, const char* banned_to = nullptr,
                       const char* history = nullptr, const char* user_list = nullptr,
                       const char* uptime = nullptr) {
        const auto item = [](const char* text) {
            return text ? std::optional<QString>(QString::fromUtf8(text)) : std::nullopt;
        };
        statistic_view_query query;
        query.user = item(user);
        query.banned_to = item(banned_to);
        query.history = item(history);
        query.user_list = item(user_list);
        query.uptime = item(uptime);
        return query;
    };
    const QByteArray a = R"("a@x":{"api_load_percent":0,"banned_to":"2030.01.01 00:00:00.000 UTC",)"
                         R"("count_request":2,)";
    const QByteArray b = R"("b@x":{"api_load_percent":0,"banned_to":"2026.03.01 12:00:00.000 UTC",)"
                         R"("count_request":4294967303})";
    struct row
    {
        const char* behaviour;
        statistic_view_query query;
        QByteArray answer;
    };
    QByteArray many_names;
    for (int i = 0; i < 5000; ++i)
        many_names += "zz" + QByteArray::number(i) + ",";
    const QByteArray b_last = many_names + "b@x";
    const row rows[] = {
        { "every client", q(),
            "{" + a + R"("last_exec_ms":7,)"
                + R"("last_time":"2026.03.01 11:59:58.042 UTC","last_url":"/new"},)" + b + "}" },
        { "named clients only, unknown names skipped", q("b@x,zz"), "{" + b + "}" },
        { "the last of a long list of names is named too", q(b_last.constData()), "{" + b + "}" },
        { "an empty user names the empty client", q(""), "{}" },
        { "history; a state outside the table has no name", q("a@x", none, "true"),
            "{" + a + R"("history":[{"exec_ms":7,"status":"EXECUTED",)"
                + R"("time":"2026.03.01 11:59:58.042 UTC","url":"/new","uuid":"u2"},)"
                + R"({"exec_ms":12,"status":"","time":"2026.03.01 11:59:50.000 UTC",)"
                + R"("url":"/old","uuid":"u1"}]}})" },
        { "banned: running bans only", q(none, none, none, "banned"),
            R"({"a@x":"2030.01.01 00:00:00.000 UTC"})" },
        { "history only for exactly true", q("a@x", none, "True"),
            "{" + a + R"("last_exec_ms":7,"last_time":"2026.03.01 11:59:58.042 UTC",)"
                + R"("last_url":"/new"}})" },
        { "last_time of the newest entry; no history, no member", q(none, none, none, "last_time"),
            R"({"a@x":"2026.03.01 11:59:58.042 UTC"})" },
        { "last_url of the newest entry", q(none, none, none, "last_url"), R"({"a@x":"/new"})" },
        { "last_exec_ms of the newest entry", q(none, none, none, "last_exec_ms"), R"({"a@x":7})" },
        { "banned_to for every client", q(none, none, none, "banned_to"),
            R"({"a@x":"2030.01.01 00:00:00.000 UTC","b@x":"2026.03.01 12:00:00.000 UTC"})" },
        { "an unknown question", q(none, none, none, "Count"), "{}" },
        { "count for every client, user unused", q("a@x", none, none, "count"),
            R"({"a@x":2,"b@x":4294967303})" },
        { "uptime wins over user_list", q(none, none, none, "count", ""),
            R"({"update":"2026.02.28 10:58:59.000 UTC","uptime":"1d01:01:01"})" },
    };
    const QDateTime start = now.addSecs(-(86400 + 3600 + 60 + 1));
    for (const row& r : rows) {
        statistic_map map = sample();
        EXPECT_EQ(
            QJsonDocument(statistic_view(map, r.query, start, now)).toJson(QJsonDocument::Compact),
            r.answer)
            << r.behaviour;
        EXPECT_EQ(map.size(), 2) << r.behaviour;
    }
    const char* const states[]
        = { "WAIT", "EXECUTED", "FAIL_BAN_BY_TIME", "FAIL_TOKEN_INVALID", "FAIL_TOKEN_EXPIRED" };
    for (int state = 0; state < 5; ++state) {
        statistic entry;
        entry.history = { { static_cast<request_state>(state), now, "/u", "id", 1 } };
        EXPECT_EQ(
            client_json(entry, true)["history"].toArray()[0].toObject()["status"], states[state]);
    }
    EXPECT_EQ(uptime_text(3599), "00:59:59");
    EXPECT_EQ(uptime_text(-5), "00:00:00");
}

TEST(user_statistic_view, sets_ban_ends)
{
    const std::optional<QString> none;
    struct row
    {
        const char* behaviour;
        std::optional<QString> user;
        QString seconds;
        QString client;
        QString ban_end;
    };
    const row rows[] = {
        { "a new client", QString("b@x,new@x"), "1893456000", "new@x",
            "2030.01.01 00:00:00.000 UTC" },
        { "beyond 2038 still bans", QString("a@x"), "4102444800", "a@x",
            "2100.01.01 00:00:00.000 UTC" },
        { "not a number lifts the ban", QString("a@x"), "soon", "a@x",
            "1970.01.01 00:00:00.000 UTC" },
        { "held to the last time shown", QString("a@x"), "9223372036854775807", "a@x",
            "9999.12.31 23:59:59.000 UTC" },
        { "no user: the empty client", none, "0", "", "1970.01.01 00:00:00.000 UTC" },
    };
    for (const row& r : rows) {
        statistic_map map = sample();
        const statistic_view_query query { r.user, r.seconds, std::nullopt, std::nullopt,
            QString() };
        EXPECT_EQ(
            QJsonDocument(statistic_view(map, query, now, now)).toJson(QJsonDocument::Compact),
            R"({"status":"ok"})")
            << r.behaviour;
        EXPECT_EQ(statistic_time_text(map.value(r.client).banned_to), r.ban_end) << r.behaviour;
        const QStringList named = r.user.value_or(QString()).split(',');
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            if (!named.contains(it.key())) {
                EXPECT_EQ(it->banned_to, sample().value(it.key()).banned_to) << r.behaviour;
            }
    }
}

} // namespace
