#include "router/json_helpers.h"

#include "qt_print.h"

#include <QJsonArray>
#include <QJsonDocument>

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

TEST(SplitToIntJsonText, KeepsTheItemsThatReadAsDecimal32BitIntegers)
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
        EXPECT_EQ(split_to_int_json_text(QString(c.text)), QByteArray(c.expected)) << c.text;
}

// What the lists were before they were written as text: a QJsonArray of the items.
QByteArray through_json_array(const QString& text, bool numbers)
{
    QJsonArray items;
    for (const QString& item : text.split(',')) {
        bool ok = false;
        const int number = item.toInt(&ok, 10);
        if (!numbers)
            items.append(item);
        else if (ok)
            items.append(number);
    }
    return QJsonDocument(items).toJson(QJsonDocument::Compact);
}

// Runs of equal items are written once and copied: every run boundary, and items that are
// nearly equal, must still come out as the array of the items did.
TEST(ListJsonText, WritesWhatTheArrayOfTheItemsWrote)
{
    const QString lone_high(QChar(0xd800));
    const QString texts[] = {
        "",
        ",",
        ",,,,,",
        "1,1,1",
        "1,,1,,",
        ",1,1",
        "1,11,1,11,111,1",
        "11,1,1,11",
        "5, 5,5 ,5",
        "a,a,b,a,a",
        "ab,a,ab,abc,ab",
        QString::fromUtf8("\"q\",\"q\",\\,\x01,\xc3\xa9,\xc3\xa9,\xf0\x9f\x98\x80"),
        lone_high + "," + lone_high + ",x" + lone_high,
        QString(",7").repeated(70000),
        QString("7,").repeated(70001) + "8," + QString("x,").repeated(3) + "7",
        QString(",").repeated(100003),
    };
    for (const QString& text : texts) {
        const std::string shown = text.left(40).toStdString();
        EXPECT_EQ(split_to_int_json_text(text), through_json_array(text, true)) << shown;
        EXPECT_EQ(split_to_json_text(text), through_json_array(text, false)) << shown;
    }
}

// Every text of up to seven characters of ",", "1" and "2": each way runs of items can start,
// end and follow one another.
TEST(ListJsonText, EveryShortListAsTheArrayOfItsItems)
{
    const QString alphabet = ",12";
    for (int length = 0; length <= 7; ++length) {
        int count = 1;
        for (int i = 0; i < length; ++i)
            count *= alphabet.size();
        for (int n = 0; n < count; ++n) {
            QString text;
            for (int i = 0, rest = n; i < length; ++i, rest /= alphabet.size())
                text += alphabet[rest % alphabet.size()];
            ASSERT_EQ(split_to_int_json_text(text), through_json_array(text, true))
                << text.toStdString();
            ASSERT_EQ(split_to_json_text(text), through_json_array(text, false))
                << text.toStdString();
        }
    }
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
