#include "handlers/modem/tornel_modem_info.h"
#include "handlers/modem/tornel_setting_codes.h"
#include "handlers/modem/tornel_version_list.h"

#include "router/qt_print.h"
#include "tornel_json.h"

#include <gtest/gtest.h>

namespace {

// Sends `code`, answers with one meter's `settings` and returns what the caller gets.
struct code_case
{
    const char* behaviour;
    const char* code;
    const char* sent;
    const char* settings;
    const char* answer;
};

TEST(tornel_setting_codes, codes_go_out_as_setting_names_and_come_back_as_codes)
{
    const code_case rows[] = {
        { "13.0.0 both ways", "13.0.0", R"(["13_0_0"])", R"({"13_0_0":4})", R"({"13.0.0":4})" },
        { "a six-part code goes out with underscores and comes back so", "1.0.1.8.0.255",
            R"(["1_0_1_8_0_255"])", R"({"1_0_1_8_0_255":1})", R"({"1_0_1_8_0_255":1})" },
        { "17.0.0 through the table", "17.0.0", R"(["0_0_17_0_0_255_3"])",
            R"({"0_0_17_0_0_255_3":"x"})", R"({"17.0.0":"x"})" },
        { "DLMS answers a flag for 1", "DLMS", R"(["isDLMS"])", R"({"isDLMS":1})",
            R"({"DLMS":true})" },
        { "DLMS is false for 0, a boolean or text", "DLMS", R"(["isDLMS"])", R"({"isDLMS":true})",
            R"({"DLMS":false})" },
        { "the relay code answers value and state twice", "96.3.10",
            R"(["0_0_96_3_10_255_3","0_0_96_3_10_255_4"])",
            R"({"0_0_96_3_10_255_3":1,"0_0_96_3_10_255_4":2})", R"({"96.3.10":[2,1,1]})" },
        { "a relay state other than 1 answers 0", "96.3.10",
            R"(["0_0_96_3_10_255_3","0_0_96_3_10_255_4"])",
            R"({"0_0_96_3_10_255_3":0,"0_0_96_3_10_255_4":2})", R"({"96.3.10":[2,0,0]})" },
        { "the relay value alone answers nothing", "96.3.10",
            R"(["0_0_96_3_10_255_3","0_0_96_3_10_255_4"])", R"({"0_0_96_3_10_255_4":2})", R"({})" },
        { "an unknown code and an empty item go out as they are", "abc,", R"(["abc",""])",
            R"({"abc":1})", R"({"abc":1})" },
        { "a seven-part name not asked for keeps its last underscore", "x", R"(["x"])",
            R"({"1_0_1_8_0_255_2":5})", R"({"1.0.1.8.0.255_2":5})" },
    };
    for (const code_case& r : rows) {
        const setting_code_request request = translate_setting_codes(r.code);
        EXPECT_EQ(compact(QJsonDocument(request.settings)), r.sent) << r.behaviour;
        instance_replies replies(1);
        QJsonDocument reply(QJsonObject { { "7", json_object(r.settings) } });
        ASSERT_TRUE(tornel_settings_reply(reply, replies, request.codes)) << r.behaviour;
        EXPECT_EQ(compact(reply.object().value("7").toObject()), r.answer) << r.behaviour;
    }
}

TEST(tornel_setting_replies, each_waits_for_every_instance)
{
    struct row
    {
        const char* behaviour;
        std::function<bool(QJsonDocument&, instance_replies&)> step;
        const char* first;
        const char* second;
        const char* answer;
    };
    version_groups groups;
    const row rows[] = {
        { "settings: a later instance replaces a meter",
            [](QJsonDocument& d, instance_replies& r) { return tornel_settings_reply(d, r, {}); },
            R"({"1":{"a":1},"2":{"b":2}})", R"({"1":{"c":3}})", R"({"1":{"c":3},"2":{"b":2}})" },
        { "version list: grouped by hardware and software, ids in the order met",
            [&groups](QJsonDocument& d, instance_replies& r) {
                return tornel_version_list_reply(d, r, groups);
            },
            R"({"5":{"version":{"hw":"H","sw":"S1"}},"x":{},"3":{"version":{"hw":"H","sw":"S2"}}})",
            R"({"9":{"other":1}})",
            R"({"hw":{"":[0,9],"H":[3,5]},"hw_size":{"":2,"H":2},"sw":{"":[0,9],"S1":[5],"S2":[3]},"sw_size":{"":2,"S1":1,"S2":1}})" },
        { "modem state: state keys kept, archives by kind, events always present",
            tornel_modem_info_reply,
            R"({"4":{"dl_mode":1,"arch_month":{"m":1,"info":0},"arch_info_13":{"i":13},"arch_event2":{"e":2},"arch_info_2":{"i":2},"arch_info_11":{"i":11},"arch_event12":{"x":1},"arch_x":1,"zone":3}})",
            R"({})",
            R"({"4":{"0_event":{},"10_event":{},"11_event":{"info":{"i":11}},"13_month":{"info":{"i":13},"m":1},"14_day":{"info":{}},"15_hour":{"info":{}},"1_event":{},"2_event":{"e":2,"info":{"i":2}},"3_event":{},"4_event":{},"5_event":{},"6_event":{},"7_event":{},"8_event":{},"9_event":{},"dl_mode":1,"settings":{"zone":3}}})" },
    };
    for (const row& r : rows) {
        instance_replies replies(2);
        QJsonDocument first = json_doc(r.first);
        EXPECT_FALSE(r.step(first, replies)) << r.behaviour;
        EXPECT_EQ(first, json_doc(r.first)) << r.behaviour;
        QJsonDocument second = json_doc(r.second);
        ASSERT_TRUE(r.step(second, replies)) << r.behaviour;
        EXPECT_EQ(compact(second), r.answer) << r.behaviour;
    }
}

} // namespace
