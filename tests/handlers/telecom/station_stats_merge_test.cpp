#include "handlers/telecom/station_stats_merge.h"

#include <gtest/gtest.h>

// The base-station statistics merge over the replies of N instances.

namespace {

// The member at `path` of the merged answer as compact {"v": value}; "" when absent.
QByteArray merged_at(const std::vector<const char*>& replies, const QStringList& path)
{
    QList<QJsonObject> list;
    for (const char* reply : replies)
        list.append(QJsonDocument::fromJson(reply).object());
    QJsonValue value = merge_station_stats(list);
    for (const QString& step : path)
        value = value.toObject().value(step);
    return value.isUndefined()
        ? QByteArray()
        : QJsonDocument(QJsonObject { { "v", value } }).toJson(QJsonDocument::Compact);
}

TEST(station_stats_merge, merges_each_member_by_its_rule)
{
    const QStringList attached { "BS_Total", "attached" };
    struct row
    {
        const char* behaviour;
        std::vector<const char*> replies;
        QStringList path;
        const char* expected;
    };
    const row rows[] = {
        { "replies without BS_Total give the empty shape", { "{}", "[]" }, {},
            R"({"v":{"BS_Total":{"alarms":{},"attached":{"stations":{"bs_ids":[]},"x_ids":[]},)"
            R"("filtered":{"friend_stations":{"bs_ids":[]},"x_ids":[]}}}})" },
        { "averages over the positive values only; one never positive is absent",
            { R"({"BS_Total":{"attached":{"aver_x":4,"dl_aver_y":0,"ul_aver_z":4}}})",
                R"({"BS_Total":{"attached":{"aver_x":0,"ul_aver_z":6,"n":"7"}}})" },
            attached,
            R"({"v":{"aver_x":4,"n":0,"stations":{"bs_ids":[]},"ul_aver_z":5,"x_ids":[]}})" },
        { "group averages on the test of aver_nsnr alone; modems always summed",
            { R"({"BS_Total":{"attached":{"DL_1":{"aver_nsnr":10,"modems":3,"junk":1}}}})",
                R"({"BS_Total":{"attached":{"DL_1":{"aver_nsnr":0,"ul_aver_nsnr_from_dev":8,"modems":2}}}})" },
            attached + QStringList { "DL_1" },
            R"({"v":{"aver_nsnr":10,"dl_aver_nsnr_from_dev":0,"modems":5,"ul_aver_nsnr_from_dev":0}})" },
        { "a group with no positive aver_nsnr has null averages",
            { R"({"BS_Total":{"attached":{"UL_a":{"aver_nsnr":0,"ul_aver_nsnr_from_dev":3}}}})" },
            attached + QStringList { "UL_a" },
            R"({"v":{"aver_nsnr":null,"dl_aver_nsnr_from_dev":null,"modems":0,)"
            R"("ul_aver_nsnr_from_dev":null,"uniq_uplinks":0}})" },
        { "ids of every kind in one total order, each once",
            { R"({"BS_Total":{"filtered":{"x_ids":["b",true,2,null,"a",[1],2]}}})",
                R"({"BS_Total":{"filtered":{"x_ids":[1,"b"]}}})" },
            { "BS_Total", "filtered", "x_ids" }, R"({"v":[1,2,"a","b",true,null,[1]]})" },
        { "station entries summed and joined with repeats; non-objects dropped",
            { R"({"BS_Total":{"attached":{"stations":{"bs_ids":[5],"s1":{"modems":1,"x_ids":[1]},"s2":3}}}})",
                R"({"BS_Total":{"attached":{"stations":{"bs_ids":[4,5],"s1":{"modems":2,"x_ids":[1]},"s3":{}}}}})" },
            attached + QStringList { "stations" },
            R"({"v":{"bs_ids":[4,5],"s1":{"modems":3,"x_ids":[1,1]},"s3":{}}})" },
        { "alarms overlaid by the later reply",
            { R"({"BS_Total":{"alarms":{"a":1,"b":[1]}}})",
                R"({"BS_Total":{"alarms":{"a":"x"}}})" },
            { "BS_Total", "alarms" }, R"({"v":{"a":"x","b":[1]}})" },
        { "filtered ul_aver_ members are sums",
            { R"({"BS_Total":{"filtered":{"ul_aver_x":2}}})",
                R"({"BS_Total":{"filtered":{"ul_aver_x":4}}})" },
            { "BS_Total", "filtered", "ul_aver_x" }, R"({"v":6})" },
        { "a section's ids sorted, each once, over the replies",
            { R"({"st":{"n":1,"x_ids":[3,1]}})", R"({"st":{"x_ids":[2,3]}})" }, { "st", "x_ids" },
            R"({"v":[1,2,3]})" },
        { "a section of ids and non-positive averages only is absent",
            { R"({"st":{"x_ids":[1],"aver_q":0}})" }, { "st" }, "" },
        { "a section always has x_ids; a differently cased BS_Total is one",
            { R"({"bs_total":{"count":2}})", R"({"bs_total":{"count":3,"aver_a":2}})" },
            { "bs_total" }, R"({"v":{"aver_a":2,"count":5,"x_ids":[]}})" },
    };
    for (const row& r : rows)
        EXPECT_EQ(merged_at(r.replies, r.path), r.expected) << r.behaviour;
}

TEST(station_stats_merge, keeps_the_counts_of_equal_names_in_different_parts_apart)
{
    // Section "" against "attached", section "filt_" against "filtered".
    const std::vector<const char*> replies {
        R"({"BS_Total":{"attached":{"aver_x":6},"filtered":{"aver_x":8}},"":{"aver_x":2},"filt_":{"aver_x":4}})",
        R"({"BS_Total":{"attached":{"aver_x":2},"filtered":{"aver_x":4}},"":{"aver_x":0},"filt_":{"aver_x":0}})",
    };
    EXPECT_EQ(merged_at(replies, { "BS_Total", "attached", "aver_x" }), R"({"v":4})");
    EXPECT_EQ(merged_at(replies, { "BS_Total", "filtered", "aver_x" }), R"({"v":6})");
    EXPECT_EQ(merged_at(replies, { "", "aver_x" }), R"({"v":2})");
    EXPECT_EQ(merged_at(replies, { "filt_", "aver_x" }), R"({"v":4})");
}

// The reply of instance `i` of four: 300 stations of its own (instance 0's sorting last) and
// one shared by all, alarms of its own, and attached sums, averages and links whose names
// interleave with the other instances' and with the links'.
QJsonObject instance_reply(int i)
{
    QJsonObject stations { { "bs_ids", QJsonArray { i, 7 } },
        { "shared", QJsonObject { { "modems", i + 1 } } } };
    QJsonObject alarms, attached { { "x_ids", QJsonArray { 10 - i } } };
    for (int s = 0; s < 300; ++s) {
        const QString n = QString::number((3 - i) * 300 + s).rightJustified(5, QChar('0'));
        stations.insert("bs" + n, QJsonObject { { "modems", s }, { "x_ids", QJsonArray { s } } });
        alarms.insert("al" + n, s);
        attached.insert("S_" + n, s);
        attached.insert("aver_" + n, s + 1);
        attached.insert("UL_" + n, QJsonObject { { "aver_nsnr", 2 }, { "modems", s } });
        attached.insert("DL_" + n, QJsonObject { { "aver_nsnr", 4 }, { "modems", s } });
    }
    attached.insert("stations", stations);
    return QJsonObject { { "BS_Total",
        QJsonObject { { "alarms", alarms }, { "attached", attached } } } };
}

// Whatever order the instances answer in, and wherever their keys sort, the merge is the same.
TEST(station_stats_merge, instances_in_any_order_give_the_ascending_merge)
{
    const QList<QJsonObject> ascending { instance_reply(3), instance_reply(2), instance_reply(1),
        instance_reply(0) };
    const QJsonObject merged = merge_station_stats(ascending);
    const QJsonObject attached = merged.value("BS_Total").toObject().value("attached").toObject();
    const QJsonObject stations = attached.value("stations").toObject();
    EXPECT_EQ(stations.size(), 4 * 300 + 2);
    EXPECT_EQ(stations.value("shared"), QJsonObject({ { "modems", 10 } }));
    EXPECT_EQ(
        stations.value("bs00301"), QJsonObject({ { "modems", 1 }, { "x_ids", QJsonArray { 1 } } }));
    EXPECT_EQ(attached.size(), 4 * 300 * 4 + 2);
    EXPECT_EQ(merged.value("BS_Total").toObject().value("alarms").toObject().size(), 4 * 300);

    const QList<QList<int>> orders { { 0, 1, 2, 3 }, { 1, 3, 0, 2 } };
    for (const QList<int>& order : orders) {
        QList<QJsonObject> replies;
        for (int i : order)
            replies.append(instance_reply(i));
        EXPECT_EQ(merge_station_stats(replies), merged) << order.first();
    }
}

} // namespace
