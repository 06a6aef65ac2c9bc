#include "handlers/telecom/telecom_command_table.h"

#include <QJsonArray>
#include <functional>
#include <gtest/gtest.h>

// The simple reply rules: which of the replies of N instances answers.

namespace {

QJsonDocument doc(const char* json)
{
    return QJsonDocument::fromJson(json);
}

// The index of the reply that completed the rule, -1 when none did.
template <class Rule>
int answering_reply(const std::vector<const char*>& replies, int instances)
{
    Rule rule;
    for (std::size_t i = 0; i < replies.size(); ++i) {
        QJsonDocument reply = doc(replies[i]);
        const QJsonDocument before = reply;
        if (rule.collect_reply(reply, {}, instances)) {
            EXPECT_EQ(reply, before) << "a simple rule answers with the reply unchanged";
            return int(i);
        }
    }
    return -1;
}

TEST(telecom_reply_rules, complete_on_the_reply_their_rule_names)
{
    using fn = std::function<int(const std::vector<const char*>&, int)>;
    const fn all = answering_reply<DeleteDeviceApiHandler>;
    const fn object = answering_reply<SendDownlinkHandlerTelecom>;
    const fn array = answering_reply<StationStatsApiHandler>;
    const fn bs_read = answering_reply<BsReadApiHandler>;
    const fn first = answering_reply<SendDownlinkHandlerTelecomUSPD>;
    struct row
    {
        const char* behaviour;
        fn rule;
        int instances;
        std::vector<const char*> replies;
        int answer;
    };
    const row rows[] = {
        { "N = 1: the first reply answers", all, 1, { "{}", "{}" }, 0 },
        { "wait for all: the third of three, even empty", all, 3, { R"({"a":1})", "[1]", "{}" },
            2 },
        { "wait for all: two of three never answer", all, 3, { "{}", "{}" }, -1 },
        { "N below 1 completes at once", all, 0, { "{}" }, 0 },
        { "first object with a member", object, 3, { "{}", R"({"a":1})", "{}" }, 1 },
        { "three empty objects: the third", object, 3, { "{}", "{}", "{}" }, 2 },
        { "an array reads as an empty object", bs_read, 2, { "[1]", "{}" }, 1 },
        { "first array with an element", array, 2, { "[]", "[1]" }, 1 },
        { "a non-empty array answers at once", array, 2, { "[1]", "[]" }, 0 },
        { "an object reads as an empty array", array, 3, { R"({"a":1})", "[]", "[]" }, 2 },
        { "the _uspd rule takes the first of four", first, 4, { "{}" }, 0 },
    };
    for (const row& r : rows)
        EXPECT_EQ(r.rule(r.replies, r.instances), r.answer) << r.behaviour;
}

} // namespace
