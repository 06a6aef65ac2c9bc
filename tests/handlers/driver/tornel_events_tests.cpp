#include "handlers/driver/tornel_events.h"

#include "router/qt_print.h"
#include "tornel_json.h"

#include <gtest/gtest.h>

namespace {

const qint64 now = 1700000000;

tornel_params params_of(const std::map<QString, QString>& entries)
{
    return tornel_params({ "modem", "profile", "timefrom", "timeto", "route_key" }, entries);
}

TEST(tornel_events_request, asks_for_the_event_table_from_a_day_before_to_a_day_past_now)
{
    const std::pair<const char*, int> froms[]
        = { { "86401", 1 }, { "86400", 86400 }, { "-3", -3 } };
    for (const auto& [timefrom, from] : froms) {
        const events_request request = tornel_events_request(
            params_of({ { "timefrom", timefrom }, { "timeto", "5" } }), "[3]", 2147483600);
        EXPECT_EQ(compact(request.data.parsed()),
            QStringLiteral(R"({"from":%1,"modem_id":[3],"tag":["tornel.event"],"to":2147483647})")
                .arg(from)
                .toStdString());
    }
}

// The events a reply of one modem with `records` gives, as compact JSON.
TEST(tornel_events_reply, filters_by_journal_and_window_and_sorts_newest_first)
{
    struct row
    {
        const char* behaviour;
        std::map<QString, QString> params;
        const char* records;
        const char* events;
    };
    // Codes of no journal, then one: a long list is looked up as a whole, not in part.
    std::string many_codes;
    for (int i = 0; i < 20000; ++i)
        many_codes += "0.0.99.98." + std::to_string(i + 100) + ".255,";
    const QString without_it = QString::fromStdString(many_codes + "0.0.99.98.4.255");
    const QString with_it = without_it + ",0.0.99.98.3.255";
    const char* const type_3_at_5 = R"([{"data":[{"timestamp":5,"type":3}]}])";
    const row rows[] = {
        { "both bounds are exclusive; newest first; equal times keep their order",
            { { "timefrom", "100" }, { "timeto", "200" } },
            R"([{"bs_timezone_offset":10,"data":[{"timestamp":90,"event":1},{"timestamp":190,"event":2},
                {"timestamp":120,"event":3},{"timestamp":150,"event":4},{"timestamp":150,"event":5}]}])",
            R"([{"1.0.0":160,"96.11.0":4,"profile":"0.0.99.98.0.255"},)"
            R"({"1.0.0":160,"96.11.0":5,"profile":"0.0.99.98.0.255"},)"
            R"({"1.0.0":130,"96.11.0":3,"profile":"0.0.99.98.0.255"}])" },
        { "no start: the first event taken, the greatest key of an object first", {},
            R"([{"data":{"a":{"timestamp":5,"event":1},"b":{"timestamp":6,"event":2}}},
                {"data":[{"timestamp":7,"event":3}]}])",
            R"([{"1.0.0":6,"96.11.0":2,"profile":"0.0.99.98.0.255"}])" },
        { "an empty journal filter keeps every journal", { { "timefrom", "1" }, { "profile", "" } },
            R"([{"data":[{"timestamp":5,"type":1}]}])",
            R"([{"1.0.0":5,"96.11.1":0,"profile":"0.0.99.98.1.255"}])" },
        { "a negative start also stops at the first event taken", { { "timefrom", "-5" } },
            R"([{"data":[{"timestamp":-9},{"timestamp":1,"event":1},{"timestamp":2}]}])",
            R"([{"1.0.0":1,"96.11.0":1,"profile":"0.0.99.98.0.255"}])" },
        { "a long profile with the journal at its end",
            { { "timefrom", "1" }, { "profile", with_it } }, type_3_at_5,
            R"([{"1.0.0":5,"96.11.3":0,"profile":"0.0.99.98.3.255"}])" },
        { "a long profile without the journal", { { "timefrom", "1" }, { "profile", without_it } },
            type_3_at_5, "[]" },
        { "a profile of empty items keeps none", { { "timefrom", "1" }, { "profile", "," } },
            type_3_at_5, "[]" },
        { "a journal filter; a type beyond 10 is an unknown type",
            { { "timefrom", "1" }, { "profile", "0.0.99.98.3.255,unknown type" } },
            R"([{"data":[{"timestamp":5,"type":3},{"timestamp":6,"type":11,"event":8},
                {"timestamp":7,"type":4}]},{"data":"text"},{"data":7}])",
            R"([{"1.0.0":6,"96.11.11":8,"profile":"unknown type"},)"
            R"({"1.0.0":5,"96.11.3":0,"profile":"0.0.99.98.3.255"}])" },
        { "OBIS_ keys modulo 256, driver fields kept, other keys dropped", { { "timefrom", "1" } },
            R"([{"data":[{"timestamp":5,"OBIS_300_1_8":"x","OBIS_1_8_0_x":2.5,"xOBIS_1_8_0":1,
                "OBIS_1_8":1,"OBIS_99999999999999999999999_0_0":4,"96.8.0":1,"timework":2,
                "index_send":3,"index_head":{"h":1},"other":1}]}])",
            R"([{"1.0.0":5,"1.8.0":2.5,"255.0.0":4,"44.1.8":0,"96.11.0":0,"96.8.0":2,)"
            R"("index_head":{"h":1},"index_send":3,"profile":"0.0.99.98.0.255"}])" },
    };
    for (const row& r : rows) {
        const events_request request = tornel_events_request(params_of(r.params), {}, now);
        const QJsonObject modem
            = events_modem_object("12", json_doc(r.records).array(), request.context);
        EXPECT_EQ(compact(QJsonDocument(modem.value("events").toArray())), r.events) << r.behaviour;
    }
}

} // namespace
