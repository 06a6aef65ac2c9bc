#include "handlers/modem/dl_queue_paging.h"
#include "handlers/modem/instance_replies.h"

#include <QJsonArray>
#include <gtest/gtest.h>
#include <limits>

// The pure steps of the modem commands: paging a caller's modems and folding the replies of
// several application instances into one answer.

namespace {

QByteArray compact(const QJsonDocument& document)
{
    return document.toJson(QJsonDocument::Compact);
}

QJsonDocument json(const char* text)
{
    return QJsonDocument::fromJson(text);
}

constexpr int int_min = std::numeric_limits<int>::min();
constexpr int int_max = std::numeric_limits<int>::max();

TEST(page_modem_list, sorts_as_text_and_clamps_like_mid_without_overflow)
{
    struct row
    {
        const char* behaviour;
        QStringList modems;
        int offset, limit;
        qint64 offset_sent, limit_sent;
        QStringList page;
    };
    const QStringList three { "2", "10", "9" };
    const QStringList sorted { "10", "2", "9" };
    const row rows[] = {
        { "text order, limit cut to the end", three, 1, 5, 1, 2, { "2", "9" } },
        { "offset past the end shows the last", three, 5, 100, 2, 1, { "9" } },
        { "offset at the length shows the last", three, 3, 100, 2, 1, { "9" } },
        { "no modems: offset -1, nothing shown", {}, 0, 100, -1, 1, {} },
        { "limit 0 shows nothing", three, 0, 0, 0, 0, {} },
        { "negative limit takes the rest", three, 1, -4, 1, -4, { "2", "9" } },
        { "negative start, short length", three, -1, 3, -1, 3, { "10", "2" } },
        { "negative start ending before 0", three, -5, 3, -5, 3, {} },
        { "negative start, negative length: all", three, -1, -1, -1, -1, sorted },
        { "largest offset", three, int_max, 10000, 2, 1, { "9" } },
        { "smallest offset ends before 0", three, int_min, 10000, int_min, 10000, {} },
        { "smallest offset, limit -1: the sum would wrap in 32 bits", three, int_min, -1, int_min,
            -1, sorted },
        { "smallest offset and limit", three, int_min, int_min, int_min, int_min,
            { "10", "2", "9" } },
    };
    for (const row& r : rows) {
        QJsonObject data { { "offset", r.offset }, { "limit", r.limit } };
        QStringList modems = r.modems;
        page_modem_list(data, modems);
        EXPECT_EQ(modems, r.page) << r.behaviour;
        EXPECT_EQ(data.value("offset").toDouble(), double(r.offset_sent)) << r.behaviour;
        EXPECT_EQ(data.value("limit").toDouble(), double(r.limit_sent)) << r.behaviour;
    }
}

// Feeds the replies one by one; the answer is the document that completed, "" when none did.
template <class Fold>
QByteArray fold(const QList<const char*>& replies, Fold step, int* completed_after = nullptr)
{
    for (int i = 0; i < replies.size(); ++i) {
        QJsonDocument reply = json(replies[i]);
        if (step(reply)) {
            if (completed_after)
                *completed_after = i + 1;
            return compact(reply);
        }
    }
    return "";
}

TEST(instance_replies, merges_complete_after_every_instance_and_shape_the_answer)
{
    const char* array_reply = "[1,2]";
    struct row
    {
        const char* behaviour;
        int instances;
        QList<const char*> replies;
        QStringList requested; // for the device descriptions, else empty
        int completes_after;
        QByteArray answer;
    };
    const row merges[] = {
        { "later reply wins per key", 3, { R"({"a":1})", R"({"b":2})", R"({"a":3})" }, {}, 3,
            R"({"a":3,"b":2})" },
        { "an array reply counts and adds nothing", 2, { array_reply, R"({"b":2})" }, {}, 2,
            R"({"b":2})" },
        { "a count of 0 (no number) answers the first reply", 0, { R"({"a":1})" }, {}, 1,
            R"({"a":1})" },
        { "a negative count answers the first reply", -3, { R"({"a":1})" }, {}, 1, R"({"a":1})" },
    };
    for (const row& r : merges) {
        instance_replies replies(r.instances);
        int after = 0;
        EXPECT_EQ(fold(
                      r.replies,
                      [&](QJsonDocument& d) { return merge_instance_replies(d, replies); }, &after),
            r.answer)
            << r.behaviour;
        EXPECT_EQ(after, r.completes_after) << r.behaviour;
    }

    const row devices[] = {
        { "unanswered and non-numeric modems are not supported", 2,
            { R"({"5":{"hw":1}})", R"({"5":7})" }, { "5", "6", "x" }, 2,
            R"({"5":{},"6":{"supported":false},"x":{"supported":false}})" },
    };
    for (const row& r : devices) {
        instance_replies replies(r.instances);
        EXPECT_EQ(fold(r.replies,
                      [&](QJsonDocument& d) {
                          return device_supported_reply(d, replies, r.requested.join(','));
                      }),
            r.answer)
            << r.behaviour;
    }

    const QJsonObject merged { { "req_id", QJsonArray { 1, 2 } }, { "ids", 5 } };
    EXPECT_EQ(compact(member_array_answer(merged, "req_id")), "[1,2]");
    EXPECT_EQ(compact(member_array_answer(merged, "ids")), "[]");
    EXPECT_EQ(compact(keyed_answer("2", merged)), R"({"2":{"ids":5,"req_id":[1,2]}})");
}

// The reply of instance `instance` of four: 300 keys numbered by `number`. Wide keys start
// with a character beyond U+FFFF or one from U+E000 on, which Qt's parser orders by code point.
QByteArray instance_text(int instance, int (*number)(int instance, int i), bool wide)
{
    QByteArray members;
    for (int i = 0; i < 300; ++i) {
        const int n = number(instance, i);
        const QByteArray prefix = !wide ? "" : n % 2 ? "\xf0\x9f\x98\x80" : "\xee\x80\x80";
        members += (i ? ",\"" : "\"") + prefix + QByteArray::number(n).rightJustified(6, '0')
            + "\":{\"v\":" + QByteArray::number(instance * 1000 + i) + "}";
    }
    return "{" + members + "}";
}

// Each merge of several instances' replies gives what inserting every member of every reply
// one by one gave, wherever the keys sort.
TEST(instance_replies, merges_in_any_key_order_give_what_inserting_one_by_one_gave)
{
    struct row
    {
        const char* behaviour;
        int (*number)(int instance, int i);
        bool wide;
    };
    const auto halves = [](int instance, int i) { return (3 - instance) * 150 + i; };
    const row rows[] = {
        { "a later instance's keys sort first",
            [](int instance, int i) { return (3 - instance) * 300 + i; }, false },
        { "the instances' keys interleave", [](int instance, int i) { return 4 * i + instance; },
            false },
        { "half of each reply repeats the one before", halves, false },
        { "wide keys, half repeated", halves, true },
    };
    for (const row& r : rows) {
        instance_replies merge(4), devices(4), queue(4);
        QJsonObject oracle;
        QStringList requested; // the caller's, last first, and some never answered
        QByteArray merged, described, queued;
        for (int instance = 0; instance < 4; ++instance) {
            const QByteArray text = instance_text(instance, r.number, r.wide);
            const QJsonObject part = QJsonDocument::fromJson(text).object();
            for (auto it = part.begin(); it != part.end(); ++it) {
                oracle.insert(it.key(), it.value());
                requested.prepend(it.key() + QLatin1Char('x'));
                requested.prepend(it.key());
            }
            QJsonDocument reply = QJsonDocument::fromJson(text);
            if (merge_instance_replies(reply, merge))
                merged = compact(reply);
            reply = QJsonDocument::fromJson(text);
            if (device_supported_reply(reply, devices, requested.join(',')))
                described = compact(reply);
            reply = QJsonDocument::fromJson(R"({"all":{"dl":)" + text + "}}");
            if (dl_queue_reply(reply, queue, { "queue_list", false, 0, {} }))
                queued = compact(reply);
        }
        EXPECT_EQ(merged, compact(QJsonDocument(oracle))) << r.behaviour;
        EXPECT_EQ(queued,
            compact(QJsonDocument(QJsonObject { { "all",
                QJsonObject { { "action", "get" }, { "dl", oracle }, { "status", "ok" } } } })))
            << r.behaviour;
        for (const QString& modem : requested) {
            if (!oracle.contains(modem))
                oracle.insert(modem, QJsonObject { { "supported", false } });
        }
        EXPECT_EQ(described, compact(QJsonDocument(oracle))) << r.behaviour;
    }
}

TEST(dl_queue_reply, answers_each_mode_after_every_instance)
{
    struct row
    {
        const char* behaviour;
        dl_queue_request sent;
        QList<const char*> replies;
        QByteArray answer;
    };
    const row rows[] = {
        { "an administrator's count is the back-end's", { "modem_count", false, 0, {} },
            { R"({"a":1})", R"({"b":2})" }, R"({"a":1,"b":2})" },
        { "an administrator's queue_list is ours too", { "queue_list", false, 0, {} },
            { R"({"all":{"dl":{"1":"a"}}})", R"({"all":{"dl":{"2":"b"}}})" },
            R"({"all":{"action":"get","dl":{"1":"a","2":"b"},"status":"ok"}})" },
        { "queue_list reads a bad shape as empty", { "queue_list", true, 0, {} },
            { R"({"all":{"dl":[1]}})", R"({"all":3})" },
            R"({"all":{"action":"get","dl":{},"status":"ok"}})" },
    };
    for (const row& r : rows) {
        instance_replies replies(2);
        int after = 0;
        EXPECT_EQ(fold(
                      r.replies,
                      [&](QJsonDocument& d) { return dl_queue_reply(d, replies, r.sent); }, &after),
            r.answer)
            << r.behaviour;
        EXPECT_EQ(after, 2) << r.behaviour;
    }
}

} // namespace
