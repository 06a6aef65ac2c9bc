#include "handlers/telecom/telecom_command_table.h"

#include <functional>
#include <gtest/gtest.h>

// The telecom reply rules and merges, fed the replies of N instances directly.

namespace {

// The answer once the rule completes; "" when it never does.
template <class Rule>
QByteArray merged(const std::vector<QByteArray>& replies, int instances, const QJsonObject& request)
{
    Rule rule;
    for (const QByteArray& text : replies) {
        QJsonDocument reply = QJsonDocument::fromJson(text);
        if (rule.collect_reply(reply, request, instances))
            return reply.toJson(QJsonDocument::Compact);
    }
    return QByteArray();
}

using merge_fn = std::function<QByteArray(const std::vector<QByteArray>&, int, const QJsonObject&)>;

TEST(telecom_reply_rules, answer_with_the_reply_or_the_merge_their_rule_names)
{
    const merge_fn publish = merged<PublishAllApiHandler>, device = merged<DeviceReadApiHandler>;
    const merge_fn messages = merged<MessagesApiHandler>, dl = merged<DlMessagesApiHandler>;
    const merge_fn stats = merged<StatApiHandler>;
    const QByteArray max = "{\"modems\":2147483647,\"modemsLastHour\":2147483647}";
    const auto ones = [](int n) { return "[" + QByteArray("1,").repeated(n).chopped(1) + "]"; };
    struct row
    {
        const char* behaviour;
        merge_fn merge;
        int instances;
        std::vector<QByteArray> replies;
        QJsonObject request;
        QByteArray answer;
    };
    const row rows[] = {
        { "all awaited: the third, even empty", merged<DeleteDeviceApiHandler>, 3,
            { R"({"a":1})", "[1]", "{}" }, {}, "{}" },
        { "N below 1 completes at once", merged<DeleteDeviceApiHandler>, 0, { "[1]" }, {}, "[1]" },
        { "the first object with a member; an array reads as {}", merged<BsReadApiHandler>, 3,
            { "[1]", R"({"a":1})", "{}" }, {}, R"({"a":1})" },
        { "the first array with an element; an object reads as []", merged<StationStatsApiHandler>,
            3, { R"({"a":1})", "[1]", "[]" }, {}, "[1]" },
        { "all empty: the N-th object answers", merged<DevSNRApiHandler>, 3, { "[]", "{}", "[]" },
            {}, "[]" },
        { "all empty: the N-th array answers", merged<StationHistoryApiHandler>, 3,
            { "{}", "[]", "{}" }, {}, "{}" },
        { "stinfo merges at the N-th, not before", merged<BsStatsApiHandler>, 3, { "{}", "{}" }, {},
            "" },
        { "stinfo merges at the N-th", merged<BsStatsApiHandler>, 2, { "{}", R"({"s":{"n":1}})" },
            {},
            R"({"BS_Total":{"alarms":{},"attached":{"stations":{"bs_ids":[]},"x_ids":[]},)"
            R"("filtered":{"friend_stations":{"bs_ids":[]},"x_ids":[]}},"s":{"n":1,"x_ids":[]}})" },
        { "the _uspd rule takes the first of four", merged<SendDownlinkHandlerTelecomUSPD>, 4,
            { "[]" }, {}, "[]" },
        { "objects in arrival order, an array read as {}", publish, 2, { R"({"a":1})", "[1]" }, {},
            R"([{"a":1},{}])" },
        { "fewer than N replies never answer", publish, 3, { "{}", "{}" }, {}, "" },
        { "device arrays joined", device, 2, { "[1,2]", "[3]" }, {}, "[1,2,3]" },
        { "device objects summed; others dropped, empty lists left out", device, 2,
            { R"({"modems":2,"x_ids":[1],"types":["a"],"other":5})",
                R"({"modems":3,"x_ids":[2],"protocols":[]})" },
            {}, R"({"modems":5,"types":["a"],"x_ids":[1,2]})" },
        { "the last reply an array drops the objects", device, 2, { R"({"modems":2})", "[7]" }, {},
            "[7]" },
        { "the last reply an object drops the arrays", device, 2, { "[7]", R"({"modems":2})" }, {},
            R"({"modems":2,"x_ids":[]})" },
        { "modems summed past 32 bits; a fraction counts 0", device, 3,
            { max, max, R"({"modems":1.5})" }, {}, R"({"modems":4294967294,"x_ids":[]})" },
        { "time_saved 0 sorts by time_detected", messages, 2,
            { R"([{"time_detected":1}])", R"([{"time_detected":5}])" }, { { "time_saved", 0 } },
            R"([{"time_detected":5},{"time_detected":1}])" },
        { "time_saved set sorts by it; a text key is read", messages, 1,
            { R"([{"time_saved":1},{"time_saved":"7"}])" }, { { "time_saved", 5 } },
            R"([{"time_saved":"7"},{"time_saved":1}])" },
        { "100 kept by default", messages, 1, { ones(101) }, {}, ones(100) },
        { "a text limit reads 0", messages, 1, { "[1]" }, { { "limit", "10" } }, "[]" },
        { "a negative limit keeps all", messages, 1, { "[1,2]" }, { { "limit", -1 } }, "[1,2]" },
        { "unkeyed after keyed in arrival order; huge keys held to the range", messages, 1,
            { R"([5,{"a":1},{"time_detected":1},{"time_detected":1e30},{"time_detected":-1e30}])" },
            {},
            R"([{"time_detected":1e+30},{"time_detected":1},{"time_detected":-1e+30},5,{"a":1}])" },
        { "dl_messages by posted_time, {} adds nothing, cut to limit", dl, 3,
            { R"([{"posted_time":1}])", "{}", R"([{"posted_time":2},{"posted_time":3}])" },
            { { "limit", 2 } }, R"([{"posted_time":3},{"posted_time":2}])" },
        { "stats: counts summed past 32 bits, first texts, rates averaged", stats, 2,
            { R"({"ulMessLastHour":12.5,"modemsLastHour":2147483647,"TelecomVersion":"a",
                "successRateOfDlAppDelivery":0.9,"runnedTime":"1h"})",
                R"({"ulMessLastHour":"12","modemsLastHour":2147483647,"TelecomVersion":"b",
                "successRateOfDlAppDelivery":0.8,"bsOnline":4})" },
            {},
            R"({"TelecomVersion":"a","bsOnline":0,"dlAppMessLast24Hour":0,"dlAppMessLastHour":0,)"
            R"("dlMessLast24Hour":0,"dlMessLastHour":0,"dlMessPerSec":0,"modemsLast24Hour":0,)"
            R"("modemsLastHour":4294967294,"runnedTime":"1h",)"
            R"("successRateOfDlAppDelivery":0.8500000238418579,)"
            R"("successRateOfDlAppDelivery_daily":0,"ulAppMessLast24Hour":0,)"
            R"("ulAppMessLastHour":0,"ulAppMessPerSec":0,"ulMessLast24Hour":0,"ulMessLastHour":0,)"
            R"("ulMessPerSec":0})" },
        { "stats: every count and per-second value summed, each from its own key", stats, 2,
            { R"({"ulMessPerSec":0.5,"ulMessLastHour":1,"ulMessLast24Hour":2,"ulAppMessPerSec":0.25,
                "ulAppMessLastHour":3,"ulAppMessLast24Hour":4,"dlMessPerSec":0.125,"dlMessLastHour":5,
                "dlMessLast24Hour":6,"dlAppMessLastHour":7,"dlAppMessLast24Hour":8,"bsOnline":9,
                "modemsLastHour":10,"modemsLast24Hour":11,"successRateOfDlAppDelivery":0.5,
                "successRateOfDlAppDelivery_daily":0.25,"runnedTime":"r","TelecomVersion":"v"})",
                R"({"ulMessPerSec":1,"ulMessLastHour":100,"ulMessLast24Hour":200,"ulAppMessPerSec":2,
                "ulAppMessLastHour":300,"ulAppMessLast24Hour":400,"dlMessPerSec":4,"dlMessLastHour":500,
                "dlMessLast24Hour":600,"dlAppMessLastHour":700,"dlAppMessLast24Hour":800,"bsOnline":900,
                "modemsLastHour":1000,"modemsLast24Hour":1100,"successRateOfDlAppDelivery":1.5,
                "successRateOfDlAppDelivery_daily":0.75,"runnedTime":"R","TelecomVersion":"V"})" },
            {},
            R"({"TelecomVersion":"v","bsOnline":9,"dlAppMessLast24Hour":808,"dlAppMessLastHour":707,)"
            R"("dlMessLast24Hour":606,"dlMessLastHour":505,"dlMessPerSec":4.125,"modemsLast24Hour":1111,)"
            R"("modemsLastHour":1010,"runnedTime":"r","successRateOfDlAppDelivery":1,)"
            R"("successRateOfDlAppDelivery_daily":0.5,"ulAppMessLast24Hour":404,)"
            R"("ulAppMessLastHour":303,"ulAppMessPerSec":2.25,"ulMessLast24Hour":202,)"
            R"("ulMessLastHour":101,"ulMessPerSec":1.5})" },
        { "stats with N below 1: the first reply, a rate as read", stats, 0,
            { R"({"successRateOfDlAppDelivery_daily":0.5,"dlMessPerSec":1.25})" }, {},
            R"({"TelecomVersion":"","bsOnline":0,"dlAppMessLast24Hour":0,"dlAppMessLastHour":0,)"
            R"("dlMessLast24Hour":0,"dlMessLastHour":0,"dlMessPerSec":1.25,"modemsLast24Hour":0,)"
            R"("modemsLastHour":0,"runnedTime":"","successRateOfDlAppDelivery":0,)"
            R"("successRateOfDlAppDelivery_daily":0.5,"ulAppMessLast24Hour":0,)"
            R"("ulAppMessLastHour":0,"ulAppMessPerSec":0,"ulMessLast24Hour":0,"ulMessLastHour":0,)"
            R"("ulMessPerSec":0})" },
    };
    for (const row& r : rows)
        EXPECT_EQ(r.merge(r.replies, r.instances, r.request), r.answer) << r.behaviour;
}

} // namespace
