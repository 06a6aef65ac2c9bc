#include "json/json_document.h"

#include "json/compact_json.h"

#include <gtest/gtest.h>

namespace {

template <size_t N>
QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, int(N - 1));
}

QByteArray nested(int depth, const QByteArray& inside)
{
    return QByteArray("{\"o\":").repeated(depth) + inside + QByteArray("}").repeated(depth);
}

// Objects that repeat a key, the dropped value an array or an object. The document must be the
// one Qt makes of the body, error and offset included; compact_json, which reads exactly as Qt
// does without handing Qt the body, says what that is. So the rows never give Qt a repeated key
// themselves, and they run again with leak checking on (tests/CMakeLists.txt): any row whose
// text reaches Qt's parser with a repeat in it fails there.
TEST(JsonDocument, ReadsRepeatedKeysAsQtWithoutHandingThemToIt)
{
    QByteArray unstable = "{";
    for (int i = 1; i <= 40; ++i)
        unstable
            += "\"" + QByteArray::number(i * 7 % 11, 16) + "\":[" + QByteArray::number(i) + "],";
    unstable += "\"z\":{}}";
    QByteArray many_keys = "{";
    for (int i = 0; i < 70; ++i)
        many_keys += "\"k" + QByteArray::number(i) + "\":[0],";
    many_keys += "\"k0\":[1]}";

    const struct
    {
        const char* name;
        QByteArray body;
    } rows[] = {
        { "the_kept_values_stay", R"({"a":[1],"a":[2],"b":{"c":[3]},"b":{"c":[4]},"d":5})" },
        { "the_member_qt_s_unstable_sort_keeps", unstable },
        { "white_space_around_the_colon", "{ \"a\" : [1] ,\n\"a\"\t:\t{\"b\":2} , \"a\" :3 }" },
        { "a_repeat_inside_a_dropped_value", R"({"a":{"b":[1],"b":[2]},"a":{"b":[3]}})" },
        { "a_key_spelled_with_an_escape", R"({"a":[1],"\u0061":[2]})" },
        { "keys_equal_up_to_a_nul", bytes("{\"a\0b\":[1],\"a\0c\":[2]}") },
        { "a_repeat_deeper_than_a_quick_look_goes", nested(20, R"({"a":[1],"a":[2]})") },
        { "more_keys_than_a_quick_look_holds", many_keys },
        { "an_error_in_an_object_around_a_repeat", R"({"x":{"a":[1],"a":[2]},})" },
    };
    for (const auto& r : rows) {
        const compact_json qt(r.body);
        QJsonParseError error {};
        const QJsonDocument document = read_json_document(r.body, &error);
        EXPECT_EQ(error.error, qt.error().error) << r.name;
        EXPECT_EQ(error.offset, qt.error().offset) << r.name;
        EXPECT_EQ(document.toJson(QJsonDocument::Compact), qt.text()) << r.name;
    }
}

} // namespace
