#include "handlers/driver/tornel_setting_codes.h"

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
        { "a relay state of 2 answers 0", "96.3.10", R"(["0_0_96_3_10_255_3","0_0_96_3_10_255_4"])",
            R"({"0_0_96_3_10_255_3":2,"0_0_96_3_10_255_4":"v"})", R"({"96.3.10":["v",0,0]})" },
        { "DLMS is false for a number whose whole part is 0", "DLMS", R"(["isDLMS"])",
            R"({"isDLMS":0.5})", R"({"DLMS":false})" },
        { "seven parts go out and eight come back as they are", "1.2.3.4.5.6.7",
            R"(["1.2.3.4.5.6.7"])", R"({"1_2_3_4_5_6_7_8":1})", R"({"1_2_3_4_5_6_7_8":1})" },
        { "the relay value alone answers nothing", "96.3.10",
            R"(["0_0_96_3_10_255_3","0_0_96_3_10_255_4"])", R"({"0_0_96_3_10_255_4":2})", R"({})" },
        { "an unknown code and an empty item go out as they are", "abc,", R"(["abc",""])",
            R"({"abc":1})", R"({"abc":1})" },
        { "a seven-part name not asked for keeps its last underscore", "x", R"(["x"])",
            R"({"1_0_1_8_0_255_2":5})", R"({"1.0.1.8.0.255_2":5})" },
        { "a renamed setting wins over the same name sent as it is", "13.0.0", R"(["13_0_0"])",
            R"({"13.0.0":1,"13_0_0":2})", R"({"13.0.0":2})" },
        { "each code of a run goes out, the relay's pair each time", "96.3.10,96.3.10,DLMS,DLMS,,",
            R"(["0_0_96_3_10_255_3","0_0_96_3_10_255_4","0_0_96_3_10_255_3","0_0_96_3_10_255_4",)"
            R"("isDLMS","isDLMS","",""])",
            R"({"isDLMS":1})", R"({"DLMS":true})" },
        { "names are escaped as Qt escaped them", "a\"b,1.0.1.8.0.\u00e9,\x01",
            "[\"a\\\"b\",\"1_0_1_8_0_\u00e9\",\"\\u0001\"]", R"({})", R"({})" },
    };
    for (const code_case& r : rows) {
        const setting_code_request request = translate_setting_codes(r.code);
        EXPECT_EQ(request.settings.toStdString(), r.sent) << r.behaviour;
        instance_replies replies(1);
        QJsonDocument reply(QJsonObject { { "7", json_object(r.settings) } });
        ASSERT_TRUE(tornel_settings_reply(reply, replies, request.codes)) << r.behaviour;
        EXPECT_EQ(compact(reply.object().value("7").toObject()), r.answer) << r.behaviour;
    }
}

} // namespace
