#include "handlers/driver/obis_hex_key.h"
#include "handlers/driver/tornel_history.h"

#include "router/qt_print.h"
#include "tornel_json.h"

#include <gtest/gtest.h>

namespace {

const qint64 now = 1700000000;

tornel_params params_of(const std::map<QString, QString>& entries)
{
    return tornel_params(
        { "modem", "profile", "timefrom", "timeto", "route_key", "index_only", "limit", "fill" },
        entries);
}

TEST(tornel_history_request, asks_the_driver_for_more_than_the_caller_wants)
{
    struct row
    {
        const char* behaviour;
        std::map<QString, QString> params;
        const char* command;
        QByteArray data; // without "modem_id"
    };
    const QString all_tags = R"(["tornel.data_instant","tornel.data_setup","tornel.data_year",)"
                             R"("tornel.data_month","tornel.data_day","tornel.data_profile"])";
    const row rows[] = {
        { "no window: every table, to a day past now", {}, "get_roll_extract",
            R"({"from":0,"tag":)" + all_tags.toLatin1() + R"(,"to":1700086400})" },
        { "known profiles only, a day around the window, limit + 1000, fill as text",
            { { "profile", "1.0.99.1.0.255,9.9.9" }, { "timefrom", "86401" }, { "timeto", "100" },
                { "limit", "x" }, { "fill", "x" }, { "index_only", "TRUE" } },
            "get_roll_extract",
            R"({"fill":"x","from":1,"limit":1000,"tag":["tornel.data_profile"],"to":86500})" },
        { "a known profile named again is asked for again",
            { { "profile", "1.0.99.1.0.255,1.0.99.1.0.255,x,1.0.99.1.0.255" } }, "get_roll_extract",
            R"({"from":0,"tag":["tornel.data_profile","tornel.data_profile",)"
            R"("tornel.data_profile"],"to":1700086400})" },
        { "sums near the 32-bit edge are cut to it, not wrapped",
            { { "timeto", "2147483600" }, { "limit", "2147483000" }, { "timefrom", "86400" },
                { "profile", "" }, { "index_only", "true" } },
            "get_roll", R"({"from":86400,"limit":2147483647,"tag":[],"to":2147483647})" },
    };
    for (const row& r : rows) {
        const history_request request = tornel_history_request(params_of(r.params), "[7]", now);
        EXPECT_EQ(request.command, r.command) << r.behaviour;
        QJsonObject data = request.data.parsed();
        EXPECT_EQ(data.take("modem_id").toArray(), QJsonArray { 7 }) << r.behaviour;
        EXPECT_EQ(compact(data), r.data.toStdString()) << r.behaviour;
    }
}

// A driver record at `ts` (offset 0) with one value and an index.
QJsonObject record(qint64 ts, qint64 offset = 0, int index = 1)
{
    QJsonObject data { { "data", QJsonObject { { "0100010800FF", 2.5 } } } };
    if (index)
        data.insert("index_send", index);
    return QJsonObject { { "timestamp", ts }, { "bs_timezone_offset", offset },
        { "tag", "tornel.data_day" }, { "time_detected", 99 }, { "data", data } };
}

// The "1.0.0" times of one modem's answer, and its "period" or -1.
std::pair<QList<qint64>, qint64> times_of(const QJsonObject& modem)
{
    QList<qint64> times;
    for (const QJsonValue& m : modem.value("meterings").toArray())
        times << qint64(m.toObject().value("1.0.0").toDouble());
    return { times, modem.contains("period") ? modem.value("period").toInt() : -1 };
}

TEST(tornel_history_reply, cuts_the_records_back_to_the_window_and_the_limit)
{
    struct row
    {
        const char* behaviour;
        std::map<QString, QString> params;
        QList<QJsonObject> records;
        QList<qint64> times;
        qint64 period;
        qint64 at = now;
    };
    const row rows[] = {
        { "both bounds are inclusive", { { "timefrom", "100" }, { "timeto", "200" } },
            { record(202), record(200), record(150), record(100), record(98) }, { 200, 150, 100 },
            -1 },
        { "no start: the first record in the window only", { { "timeto", "200" } },
            { record(300), record(150), record(100) }, { 150 }, -1 },
        { "no end: nothing after now plus the record's own offset", { { "timefrom", "10" } },
            { record(now + 2, 0), record(now - 50, 100), record(now) }, { now + 50, now }, -1 },
        { "an odd local time is made even", { { "timefrom", "10" } }, { record(101, 2) }, { 102 },
            -1 },
        { "a negative start does not stop at the first record", { { "timefrom", "-5" } },
            { record(50), record(40) }, { 50, 40 }, -1 },
        { "the limit caps accepted records", { { "timefrom", "10" }, { "limit", "2" } },
            { record(50), record(40), record(30) }, { 50, 40 }, -1 },
        { "a negative limit sets no cap; five steps give no period",
            { { "timefrom", "10" }, { "limit", "-2147483648" } },
            { record(60), record(50), record(40), record(30), record(20), record(10) },
            { 60, 50, 40, 30, 20, 10 }, -1 },
        { "index-only drops records without an index but counts them against the limit",
            { { "timefrom", "10" }, { "limit", "2" }, { "index_only", "true" } },
            { record(50, 0, 0), record(40), record(30) }, { 40 }, -1 },
        { "six descending steps give the median period, skipped records included",
            { { "timefrom", "25" }, { "timeto", "60" } },
            { record(80), record(70), record(60), record(50), record(40), record(30), record(10) },
            { 60, 50, 40, 30 }, 10 },
        { "the upper median of the sorted steps; an equal time is no step",
            { { "timefrom", "10" } },
            { record(200), record(188), record(188), record(178), record(170), record(164),
                record(160), record(158) },
            { 200, 188, 188, 178, 170, 164, 160, 158 }, 8 },
        { "a local time beyond 32 bits is neither wrapped nor lost",
            { { "timefrom", "2147483000" } }, { record(2147483000, 7200) }, { 2147490200 }, -1,
            2147483600 },
    };
    for (const row& r : rows) {
        const history_request request = tornel_history_request(params_of(r.params), {}, r.at);
        QJsonArray records;
        for (const QJsonObject& rec : r.records)
            records.append(rec);
        const QJsonObject modem = history_modem_object("7", records, request.context);
        const auto [times, period] = times_of(modem);
        EXPECT_EQ(times, r.times) << r.behaviour;
        EXPECT_EQ(period, r.period) << r.behaviour;
    }
}

TEST(tornel_history_reply, answers_modem_objects_of_every_instance)
{
    const history_request request = tornel_history_request(
        params_of({ { "timefrom", "100" }, { "timeto", "300" } }), {}, now);
    instance_replies replies(2);
    QJsonArray answer;
    QJsonDocument first = json_doc(R"({"20":[{"timestamp":200,"bs_timezone_offset":1,
        "tag":"tornel.data_month","time_detected":5,
        "data":{"data":{"0100010800FF":1.5,"0200010800FF":9},"index_send":3},
        "extended_data":{"01000C0700FF":230,"0100010800":7}}],
        "100":[{"timestamp":150,"tag":"other"}],"x":"not an array"})");
    EXPECT_FALSE(tornel_history_reply(first, replies, answer, request.context));
    QJsonDocument second = json_doc(R"([1])");
    ASSERT_TRUE(tornel_history_reply(second, replies, answer, request.context));
    EXPECT_EQ(compact(second),
        R"([{"meterings":[{"1.0.0":150,"ts_get":0}],"modem":100,"timefrom":100,"timeto":300},)"
        R"({"meterings":[{"1.0.0":200,"1.8.0":7000,"12.7.0":230,"index":3,)"
        R"("profile":"1.0.98.1.0.255","ts_get":5}],"modem":20,"timefrom":100,"timeto":300},)"
        R"({"meterings":[],"modem":0,"timefrom":100,"timeto":300}])");
}

// Several values may land on one short key: the extended data over the plain data, the
// record's own time over a value coded "1.0.0".
TEST(tornel_history_reply, a_metering_keeps_the_last_value_of_each_short_key)
{
    const history_request request
        = tornel_history_request(params_of({ { "timefrom", "10" } }), {}, now);
    const QJsonObject record = json_object(R"({"timestamp":50,"tag":"x","data":{"data":{
        "0100010800FF":1,"0100010000FF":9,"01000B0800FF":3,"0100090800FF":4}},
        "extended_data":{"0100010800FF":2}})");
    const QJsonObject modem = history_modem_object("7", QJsonArray { record }, request.context);
    EXPECT_EQ(compact(modem.value("meterings").toArray().at(0).toObject()),
        R"({"1.0.0":50,"1.8.0":2000,"11.8.0":3,"9.8.0":4000,"ts_get":0})");
}

TEST(obis_hex_to_key, keys_by_groups_c_d_e_and_scales_energy_and_power)
{
    struct row
    {
        const char* key;
        QJsonValue value;
        const char* short_key;
        double stored;
    };
    const row rows[] = { { "0100010800FF", 2, "1.8.0", 2000 },
        { "0100150800FF", 2, "21.8.0", 2000 }, { "0100460700FF", 2, "70.7.0", 2000 },
        { "0100500700FF", 2, "80.7.0", 2000 }, { "01000B0700FF", 2, "11.7.0", 2 },
        { "01001F0700FF", 2, "31.7.0", 2 }, { "0100510700FF", 2, "81.7.0", 2 },
        { "0100C80000FF", 2, "200.0.0", 2 }, { "0100", 3, "0.0.0", 3000 },
        { "01 00 01 08", 1, "1.8.0", 1000 }, { "0100010800FF", "12", "1.8.0", 0 } };
    for (const row& r : rows) {
        json_object_builder target;
        target.insert(r.short_key, -1);
        obis_hex_to_key(target, QJsonObject { { r.key, r.value } }, r.key);
        EXPECT_EQ(target.take(), QJsonObject({ { r.short_key, r.stored } })) << r.key;
    }
}

} // namespace
