#include "router/json_helpers.h"

#include "qt_print.h"

#include <gtest/gtest.h>

namespace {

QString compact(const QJsonValue& value)
{
    const QJsonDocument doc
        = value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    return QString::fromUtf8(doc.toJson(QJsonDocument::Compact));
}

QJsonObject parse(const char* text)
{
    return QJsonDocument::fromJson(text).object();
}

TEST(AddApiKeys, AppendsToTheExistingArray)
{
    struct Case
    {
        const char* name;
        const char* params;
        QStringList keys;
        const char* expected;
    };
    const Case cases[] = {
        { "absent_becomes_array", "{}", { "k1", "k2" }, R"({"api_key":["k1","k2"]})" },
        { "existing_array_kept_first", R"({"api_key":["k0"]})", { "k1", "k2" },
            R"({"api_key":["k0","k1","k2"]})" },
        { "string_replaced", R"({"api_key":"k0","x":1})", { "k1", "k2" },
            R"({"api_key":["k1","k2"],"x":1})" },
        { "duplicates_added_again", R"({"api_key":["k1"]})", { "k1" },
            R"({"api_key":["k1","k1"]})" },
        { "no_keys_still_makes_array", "{}", {}, R"({"api_key":[]})" },
    };
    for (const Case& c : cases) {
        QJsonObject params = parse(c.params);
        add_api_keys(params, c.keys);
        EXPECT_EQ(compact(params), QString(c.expected)) << c.name;
    }
}

TEST(MergeJsonObject, CompletesAtTheExpectedCount)
{
    QJsonObject merged;
    int counter = 0;
    QJsonDocument first(parse(R"({"a":1})"));
    EXPECT_FALSE(merge_json_object(first, merged, 2, counter));
    EXPECT_EQ(first.object(), parse(R"({"a":1})")); // an open command's reply stays as it came

    QJsonDocument not_object(QJsonArray { 1, 2 });
    EXPECT_FALSE(merge_json_object(not_object, merged, 3, counter));

    QJsonDocument last(parse(R"({"a":2,"b":3})"));
    EXPECT_TRUE(merge_json_object(last, merged, 3, counter));
    EXPECT_EQ(counter, 3);
    EXPECT_EQ(last.object(), parse(R"({"a":2,"b":3})"));
    EXPECT_EQ(merged, parse(R"({"a":2,"b":3})"));
}

TEST(MergeJsonObject, LimitOfZeroOrLessCompletesAtOnce)
{
    for (int limit : { 0, -1 }) {
        QJsonObject merged;
        int counter = 0;
        QJsonDocument reply(parse(R"({"a":1})"));
        EXPECT_TRUE(merge_json_object(reply, merged, limit, counter)) << limit;
        EXPECT_EQ(reply.object(), parse(R"({"a":1})"));
    }
}

TEST(ToIntJsonArray, KeepsDecimal32BitEntries)
{
    EXPECT_EQ(compact(to_int_json_array({ "1", "x", "3", "", "-7", "2147483648", "0x10", " 5" })),
        "[1,3,-7,5]");
    EXPECT_EQ(compact(to_int_json_array({})), "[]");
}

TEST(SplitToIntJsonArray, KeepsTheItemsThatReadAsDecimal32BitIntegers)
{
    struct Case
    {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        { "1,x,3,,-7,0x10", "[1,3,-7]" },
        { "123456789,-123456789,1234567890,-2147483648,2147483647", // nine digits and beyond
            "[123456789,-123456789,1234567890,-2147483648,2147483647]" },
        { "2147483648,9999999999,-2147483649,-,+", "[]" },
        { " 5,+5,007,-0,5 ", "[5,5,7,0,5]" },
        { "", "[]" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(compact(split_to_int_json_array(QString(c.text))), QString(c.expected)) << c.text;
}

TEST(SplitToJsonArray, KeepsEveryPieceAsItIs)
{
    struct Case
    {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        { "a,,b", R"(["a","","b"])" },
        { "", R"([""])" },
        { "a, b", R"(["a"," b"])" },
        { "1,2", R"(["1","2"])" },
    };
    for (const Case& c : cases) {
        const QJsonValue value = split_to_json_array(c.text);
        ASSERT_TRUE(value.isArray()) << c.text;
        EXPECT_EQ(compact(value), QString(c.expected)) << c.text;
    }
}

} // namespace
