#include "handlers/telecom/telecom_command_table.h"

#include <QJsonArray>
#include <functional>
#include <gtest/gtest.h>

// The telecom reply merges, fed the replies of N instances directly.

namespace {

QByteArray compact(const QJsonDocument& document)
{
    return document.toJson(QJsonDocument::Compact);
}

// The answer once the rule completes; "" when it never does.
template <class Rule>
QByteArray merged(
    const std::vector<QByteArray>& replies, int instances, const QJsonObject& request = {})
{
    Rule rule;
    for (const QByteArray& text : replies) {
        QJsonDocument reply = QJsonDocument::fromJson(text);
        if (rule.collect_reply(reply, request, instances))
            return compact(reply);
    }
    return QByteArray();
}

using merge_fn = std::function<QByteArray(const std::vector<QByteArray>&, int, const QJsonObject&)>;

struct merge_row
{
    const char* behaviour;
    merge_fn merge;
    int instances;
    std::vector<QByteArray> replies;
    QJsonObject request;
    QByteArray answer;
};

void check(const std::vector<merge_row>& rows)
{
    for (const merge_row& r : rows)
        EXPECT_EQ(r.merge(r.replies, r.instances, r.request), r.answer) << r.behaviour;
}

QByteArray numbered(const char* key, std::initializer_list<int> values)
{
    QJsonArray list;
    for (int v : values)
        list.append(QJsonObject { { key, v } });
    return compact(QJsonDocument(list));
}

TEST(telecom_list_merges, join_sum_sort_and_cut_the_replies)
{
    const merge_fn publish = merged<PublishAllApiHandler>;
    const merge_fn unlock = merged<TimeSincUnLockApiHandler>;
    const merge_fn device = merged<DeviceReadApiHandler>;
    const merge_fn messages = merged<MessagesApiHandler>;
    const merge_fn dl = merged<DlMessagesApiHandler>;
    const QByteArray big = QByteArray::number(2147483647);
    check({
        { "objects in arrival order, an array read as {}", publish, 2, { R"({"a":1})", "[1]" }, {},
            R"([{"a":1},{}])" },
        { "N = 1 still wraps the object", unlock, 1, { R"({"x":1})" }, {}, R"([{"x":1}])" },
        { "fewer than N replies never answer", publish, 3, { "{}", "{}" }, {}, "" },
        { "device arrays joined", device, 2, { "[1,2]", "[3]" }, {}, "[1,2,3]" },
        { "device objects summed; others dropped, empty lists left out", device, 2,
            { R"({"modems":2,"x_ids":[1],"types":["a"],"other":5})",
                R"({"modems":3,"x_ids":[2]})" },
            {}, R"({"modems":5,"types":["a"],"x_ids":[1,2]})" },
        { "the last reply an array: the objects are dropped", device, 2,
            { R"({"modems":2})", "[7]" }, {}, "[7]" },
        { "the last reply an object: the arrays are dropped", device, 2,
            { "[7]", R"({"modems":2})" }, {}, R"({"modems":2,"x_ids":[]})" },
        { "N = 1 keeps only the summed members", device, 1,
            { R"({"modems":4,"x_ids":[9],"protocols":[],"extra":1})" }, {},
            R"({"modems":4,"x_ids":[9]})" },
        { "modems beyond 32 bits are summed exactly", device, 3,
            { "{\"modems\":" + big + "}", "{\"modems\":" + big + "}",
                R"({"modems":1.5,"x_ids":"no"})" },
            {}, R"({"modems":4294967294,"x_ids":[]})" },
        { "messages newest first by time_detected, 100 by default", messages, 1,
            { numbered("time_detected", { 1, 3, 2 }) }, {},
            numbered("time_detected", { 3, 2, 1 }) },
        { "time_saved 0 still sorts by time_detected", messages, 2,
            { numbered("time_detected", { 1 }), numbered("time_detected", { 5 }) },
            { { "time_saved", 0 } }, numbered("time_detected", { 5, 1 }) },
        { "time_saved set sorts by time_saved", messages, 1,
            { R"([{"time_saved":1,"time_detected":9},{"time_saved":"7"}])" },
            { { "time_saved", 5 } }, R"([{"time_saved":"7"},{"time_detected":9,"time_saved":1}])" },
        { "limit 0 keeps none", messages, 1, { numbered("time_detected", { 1 }) },
            { { "limit", 0 } }, "[]" },
        { "a text limit reads 0", messages, 1, { numbered("time_detected", { 1 }) },
            { { "limit", "10" } }, "[]" },
        { "a negative limit keeps all", messages, 1, { numbered("time_detected", { 1, 2 }) },
            { { "limit", -1 } }, numbered("time_detected", { 2, 1 }) },
        { "unkeyed elements after keyed ones, in arrival order", messages, 1,
            { R"([5,{"a":1},{"time_detected":1},"x",{"time_detected":1e30},{"time_detected":-1e30}])" },
            {},
            R"([{"time_detected":1e+30},{"time_detected":1},{"time_detected":-1e+30},5,{"a":1},"x"])" },
        { "dl_messages by posted_time; {} adds nothing", dl, 3,
            { R"([{"posted_time":1}])", "{}", R"([{"posted_time":2}])" }, {},
            R"([{"posted_time":2},{"posted_time":1}])" },
        { "dl_messages cut to limit", dl, 1, { numbered("posted_time", { 1, 2, 3 }) },
            { { "limit", 2 } }, numbered("posted_time", { 3, 2 }) },
    });
}

TEST(telecom_list_merges, keeps_the_hundred_newest_of_many)
{
    QJsonArray many;
    for (int i = 0; i < 150; ++i)
        many.append(QJsonObject { { "time_detected", (i * 37) % 150 } });
    QJsonDocument reply(many);
    MessagesApiHandler rule;
    ASSERT_TRUE(rule.collect_reply(reply, {}, 1));
    const QJsonArray answer = reply.array();
    ASSERT_EQ(answer.size(), 100);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(answer[i].toObject().value("time_detected").toInt(), 149 - i);
}

TEST(telecom_stats_merge, sums_counts_averages_rates_and_keeps_the_first_texts)
{
    const merge_fn stats = merged<StatApiHandler>;
    const QByteArray a = R"({"ulMessPerSec":1.5,"ulMessLastHour":10,"modemsLast24Hour":2147483647,
        "bsOnline":3,"runnedTime":"1h","TelecomVersion":"v1","successRateOfDlAppDelivery":0.9,
        "successRateOfDlAppDelivery_daily":0.5})";
    const QByteArray b = R"({"ulMessPerSec":2,"ulMessLastHour":12.5,"modemsLast24Hour":2147483647,
        "bsOnline":7,"runnedTime":"2h","TelecomVersion":"v2","successRateOfDlAppDelivery":0.8,
        "dlMessLastHour":"12"})";
    const QByteArray zeros = R"({"TelecomVersion":"","bsOnline":0,"dlAppMessLast24Hour":0,)"
                             R"("dlAppMessLastHour":0,"dlMessLast24Hour":0,"dlMessLastHour":0,)"
                             R"("dlMessPerSec":0,"modemsLast24Hour":0,"modemsLastHour":0,)"
                             R"("runnedTime":"","successRateOfDlAppDelivery":0,)"
                             R"("successRateOfDlAppDelivery_daily":0,"ulAppMessLast24Hour":0,)"
                             R"("ulAppMessLastHour":0,"ulAppMessPerSec":0,"ulMessLast24Hour":0,)"
                             R"("ulMessLastHour":0,"ulMessPerSec":0})";
    QByteArray one = zeros;
    one.replace(R"("successRateOfDlAppDelivery":0,)", R"("successRateOfDlAppDelivery":0.5,)");
    check({
        { "all eighteen members from empty replies", stats, 2, { "[]", "" }, {}, zeros },
        { "N = 1: a rate as read", stats, 1, { R"({"successRateOfDlAppDelivery":0.5})" }, {}, one },
        { "N below 1 answers the first reply", stats, 0,
            { R"({"successRateOfDlAppDelivery":0.5})" }, {}, one },
        { "three replies awaited, two came", stats, 3, { a, b }, {}, "" },
    });

    QJsonDocument reply = QJsonDocument::fromJson(a);
    StatApiHandler rule;
    ASSERT_FALSE(rule.collect_reply(reply, {}, 2));
    reply = QJsonDocument::fromJson(b);
    ASSERT_TRUE(rule.collect_reply(reply, {}, 2));
    const QJsonObject answer = reply.object();
    EXPECT_EQ(answer.size(), 18);
    EXPECT_EQ(answer.value("ulMessPerSec").toDouble(), 3.5);
    EXPECT_EQ(answer.value("ulMessLastHour").toDouble(), 10) << "a fraction counts 0";
    EXPECT_EQ(answer.value("dlMessLastHour").toDouble(), 0) << "a text counts 0";
    EXPECT_EQ(answer.value("modemsLast24Hour").toDouble(), 4294967294.0) << "no 32-bit wrap";
    EXPECT_EQ(compact(QJsonDocument(QJsonObject { { "r", answer["successRateOfDlAppDelivery"] } })),
        R"({"r":0.8500000238418579})");
    EXPECT_EQ(answer.value("successRateOfDlAppDelivery_daily").toDouble(), 0.25);
    EXPECT_EQ(answer.value("bsOnline").toInt(), 3);
    EXPECT_EQ(answer.value("runnedTime").toString(), "1h");
    EXPECT_EQ(answer.value("TelecomVersion").toString(), "v1");

    // A first reply without the texts wins over a second that has them.
    QJsonDocument empty_first = QJsonDocument::fromJson("[1]");
    StatApiHandler second;
    ASSERT_FALSE(second.collect_reply(empty_first, {}, 2));
    QJsonDocument full = QJsonDocument::fromJson(a);
    ASSERT_TRUE(second.collect_reply(full, {}, 2));
    EXPECT_EQ(full.object().value("bsOnline").toInt(), 0);
    EXPECT_EQ(full.object().value("TelecomVersion").toString(), "");
}

} // namespace
