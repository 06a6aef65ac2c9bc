#include "handlers/telecom/station_stats_merge.h"

#include <QJsonArray>
#include <gtest/gtest.h>

// The base-station statistics merge over the replies of N instances.

namespace {

QJsonObject object_of(const char* json)
{
    return QJsonDocument::fromJson(json).object();
}

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// The answer of the merge, without the parts of "BS_Total" a row does not look at.
QJsonObject merge(const std::vector<const char*>& replies)
{
    QList<QJsonObject> list;
    for (const char* reply : replies)
        list.append(object_of(reply));
    return merge_station_stats(list);
}

QJsonValue at(const QJsonObject& answer, const QStringList& path)
{
    QJsonValue value = answer;
    for (const QString& step : path)
        value = value.toObject().value(step);
    return value;
}

TEST(station_stats_merge, merges_each_member_by_its_rule)
{
    struct row
    {
        const char* behaviour;
        std::vector<const char*> replies;
        QStringList path;
        const char* expected; // compact JSON of {"v": value}; "" for an absent member
    };
    const row rows[] = {
        { "replies without BS_Total give the empty shape", { "{}", "[]" }, {},
            R"({"v":{"BS_Total":{"alarms":{},"attached":{"stations":{"bs_ids":[]},"x_ids":[]},)"
            R"("filtered":{"friend_stations":{"bs_ids":[]},"x_ids":[]}}}})" },
        { "a positive average over the replies that gave one",
            { R"({"BS_Total":{"attached":{"aver_x":4}}})",
                R"({"BS_Total":{"attached":{"aver_x":0}}})" },
            { "BS_Total", "attached", "aver_x" }, R"({"v":4})" },
        { "two positive averages",
            { R"({"BS_Total":{"attached":{"ul_aver_x":4}}})",
                R"({"BS_Total":{"attached":{"ul_aver_x":6}}})" },
            { "BS_Total", "attached", "ul_aver_x" }, R"({"v":5})" },
        { "an average never above 0 is absent", { R"({"BS_Total":{"attached":{"aver_x":-1}}})" },
            { "BS_Total", "attached", "aver_x" }, "" },
        { "a downlink group: averages on the test of aver_nsnr alone",
            { R"({"BS_Total":{"attached":{"DL_1":{"aver_nsnr":10,"modems":3,"junk":1}}}})",
                R"({"BS_Total":{"attached":{"DL_1":{"aver_nsnr":0,"ul_aver_nsnr_from_dev":8,"modems":2}}}})" },
            { "BS_Total", "attached", "DL_1" },
            R"({"v":{"aver_nsnr":10,"dl_aver_nsnr_from_dev":0,"modems":5,"ul_aver_nsnr_from_dev":0}})" },
        { "a group without a positive aver_nsnr has null averages; uniq_uplinks 0",
            { R"({"BS_Total":{"attached":{"UL_a":{"aver_nsnr":0,"ul_aver_nsnr_from_dev":3}}}})" },
            { "BS_Total", "attached", "UL_a" },
            R"({"v":{"aver_nsnr":null,"dl_aver_nsnr_from_dev":null,"modems":0,"ul_aver_nsnr_from_dev":null,"uniq_uplinks":0}})" },
        { "id lists united and sorted",
            { R"({"BS_Total":{"attached":{"x_ids":[3,1]}}})",
                R"({"BS_Total":{"attached":{"x_ids":[1,2]}}})" },
            { "BS_Total", "attached", "x_ids" }, R"({"v":[1,2,3]})" },
        { "mixed ids: one total order, numbers, texts, then the rest",
            { R"({"BS_Total":{"filtered":{"x_ids":["b",true,2,null,"a",1,[1],2,"b"]}}})" },
            { "BS_Total", "filtered", "x_ids" }, R"({"v":[1,2,"a","b",true,null,[1]]})" },
        { "station entries summed and joined with repeats",
            { R"({"BS_Total":{"attached":{"stations":{"bs_ids":[5],"s1":{"modems":1,"x_ids":[1]},"s2":3}}}})",
                R"({"BS_Total":{"attached":{"stations":{"bs_ids":[4,5],"s1":{"modems":2,"x_ids":[1]},"s3":{}}}}})" },
            { "BS_Total", "attached", "stations" },
            R"({"v":{"bs_ids":[4,5],"s1":{"modems":3,"x_ids":[1,1]},"s3":{}}})" },
        { "alarms overlaid by the later reply",
            { R"({"BS_Total":{"alarms":{"a":1,"b":[1]}}})",
                R"({"BS_Total":{"alarms":{"a":"x"}}})" },
            { "BS_Total", "alarms" }, R"({"v":{"a":"x","b":[1]}})" },
        { "filtered ul_aver_ members are sums",
            { R"({"BS_Total":{"filtered":{"ul_aver_x":2}}})",
                R"({"BS_Total":{"filtered":{"ul_aver_x":4}}})" },
            { "BS_Total", "filtered", "ul_aver_x" }, R"({"v":6})" },
        { "a text or object member is a sum of 0",
            { R"({"BS_Total":{"attached":{"n":"7"}},"st":{"m":{}}})" },
            { "BS_Total", "attached", "n" }, R"({"v":0})" },
        { "a section with only ids is absent", { R"({"st":{"x_ids":[1],"aver_q":0}})" }, { "st" },
            "" },
        { "a section always has x_ids", { R"({"st":{"count":2}})", R"({"st":{"count":3}})" },
            { "st" }, R"({"v":{"count":5,"x_ids":[]}})" },
        { "bs_total in another case is a section", { R"({"bs_total":{"aver_a":2}})" },
            { "bs_total" }, R"({"v":{"aver_a":2,"x_ids":[]}})" },
    };
    for (const row& r : rows) {
        const QJsonObject answer = merge(r.replies);
        const QJsonValue value = r.path.isEmpty() ? QJsonValue(answer) : at(answer, r.path);
        EXPECT_EQ(value.isUndefined() ? QByteArray() : compact(QJsonObject { { "v", value } }),
            r.expected)
            << r.behaviour << "\n"
            << compact(answer).constData();
    }
}

TEST(station_stats_merge, keeps_the_counts_of_equal_names_in_different_parts_apart)
{
    // Section "" with "aver_x" and "filt_" with "aver_x": their averages must not share the
    // counts of "attached" and "filtered".
    const QJsonObject answer = merge({
        R"({"BS_Total":{"attached":{"aver_x":6},"filtered":{"aver_x":8}},"":{"aver_x":2},"filt_":{"aver_x":4}})",
        R"({"BS_Total":{"attached":{"aver_x":2},"filtered":{"aver_x":4}},"":{"aver_x":0},"filt_":{"aver_x":0}})",
    });
    EXPECT_EQ(at(answer, { "BS_Total", "attached", "aver_x" }).toDouble(), 4);
    EXPECT_EQ(at(answer, { "BS_Total", "filtered", "aver_x" }).toDouble(), 6);
    EXPECT_EQ(at(answer, { "", "aver_x" }).toDouble(), 2);
    EXPECT_EQ(at(answer, { "filt_", "aver_x" }).toDouble(), 4);
}

TEST(station_stats_merge, answers_at_the_nth_reply)
{
    const char* reply = R"({"BS_Total":{"attached":{"x_ids":[2,1,2],"DL_1":{"aver_nsnr":0}}}})";
    struct row
    {
        int instances;
        int answering_reply;
    };
    for (const row r : { row { 1, 0 }, row { 0, 0 }, row { 2, 1 }, row { 3, 2 } }) {
        station_stats_merge rule;
        for (int i = 0; i < 3; ++i) {
            QJsonDocument document = QJsonDocument::fromJson(reply);
            if (rule.collect_reply(document, {}, r.instances)) {
                EXPECT_EQ(i, r.answering_reply) << "N = " << r.instances;
                EXPECT_EQ(at(document.object(), { "BS_Total", "attached", "x_ids" }),
                    QJsonArray({ 1, 2 }));
                EXPECT_TRUE(at(document.object(), { "BS_Total", "attached", "DL_1", "aver_nsnr" })
                                .isNull());
                break;
            }
            EXPECT_LT(i, r.answering_reply) << "N = " << r.instances;
        }
    }
}

} // namespace
