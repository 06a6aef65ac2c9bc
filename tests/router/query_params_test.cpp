#include "router/query_params.h"

#include "qt_print.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <functional>
#include <gtest/gtest.h>

namespace {

QString compact(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QUrl url_with_query(const QByteArray& encoded_query)
{
    return QUrl::fromEncoded("http://127.0.0.1/telecom/api/messages?" + encoded_query);
}

struct MapCase
{
    const char* text;
    std::map<QString, QString> expected;
};

class ParseQueryMap : public ::testing::TestWithParam<MapCase>
{ };

TEST_P(ParseQueryMap, SplitsKeyValueItems)
{
    EXPECT_EQ(parse_query_map(GetParam().text), GetParam().expected) << GetParam().text;
    EXPECT_EQ(parse_query_map(QLatin1String(GetParam().text), [](QStringView) { return true; }),
        GetParam().expected)
        << "read as Latin-1: " << GetParam().text;
}

// A Latin-1 key is widened for the filter into room a longer key before it left.
TEST(ParseQueryMapLatin1, FiltersEachKeyAsWritten)
{
    const auto kept = [](QStringView key) { return key == u"a" || key == u"bb"; };
    EXPECT_EQ(parse_query_map(QLatin1String("bb=1&b=2&a=3&ab=4"), kept),
        (std::map<QString, QString> { { "a", "3" }, { "bb", "1" } }));
}

INSTANTIATE_TEST_SUITE_P(Texts, ParseQueryMap,
    ::testing::Values(MapCase { "a=1&b=2", { { "a", "1" }, { "b", "2" } } },
        MapCase { "a=1&a=2", { { "a", "2" } } }, MapCase { "a=", { { "a", "" } } },
        MapCase { "=1", { { "", "1" } } }, MapCase { "a", {} }, MapCase { "a=b=c", {} },
        MapCase { "", {} }, MapCase { "&&a=1&", { { "a", "1" } } },
        MapCase { "a=%41+b", { { "a", "%41+b" } } }));

struct JsonCase
{
    const char* name;
    QByteArray query; // percent-encoded as on the wire
    const char* expected;
};

class QueryToJson : public ::testing::TestWithParam<JsonCase>
{ };

TEST_P(QueryToJson, TypesEachValueByItsShape)
{
    const JsonCase& c = GetParam();
    EXPECT_EQ(compact(query_to_json(url_with_query(c.query))), QString(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Values, QueryToJson,
    ::testing::Values(JsonCase { "number_list_becomes_array", "ids=1,2,3", R"({"ids":[1,2,3]})" },
        JsonCase { "blank_after_comma_allowed", "ids=1,%202", R"({"ids":[1,2]})" },
        JsonCase { "line_break_counts_as_blank", "ids=1,%0A2", R"({"ids":[1,2]})" },
        JsonCase { "word_list_not_json_is_null", "names=ab,cd", R"({"names":null})" },
        JsonCase { "tab_counts_as_blank", "ids=1,%092", R"({"ids":[1,2]})" },
        JsonCase { "vertical_tab_is_blank_but_not_json", "ids=1,%0B2", R"({"ids":null})" },
        JsonCase { "no_break_space_is_no_blank", "ids=1,%C2%A02", "{}" },
        JsonCase { "en_quad_is_no_blank", "ids=1,%E2%80%802", "{}" },
        JsonCase { "ideographic_space_is_no_blank", "ids=1,%E3%80%802", "{}" },
        JsonCase { "byte_order_mark_is_no_blank", "ids=1,%EF%BB%BF2", "{}" },
        JsonCase {
            "line_separator_is_an_ordinary_character", "o=%7Ba%E2%80%A8b%7D", R"({"o":null})" },
        JsonCase { "paragraph_separator_is_an_ordinary_character", "o=%7Ba%E2%80%A9b%7D",
            R"({"o":null})" },
        JsonCase { "carriage_return_in_braces_is_text", "o=%7Ba%0Db%7D", R"({"o":"{a\rb}"})" },
        JsonCase { "trailing_comma_left_out", "v=1,2,", "{}" },
        JsonCase { "leading_comma_left_out", "v=,1", "{}" },
        JsonCase { "object_text_becomes_object", "o=%7B%22a%22:1%7D", R"({"o":{"a":1}})" },
        JsonCase { "brace_letter_brace_is_null", "o=%7Bx%7D", R"({"o":null})" },
        JsonCase { "two_objects_is_null", "o=%7B%22a%22:1%7D%7B%22b%22:2%7D", R"({"o":null})" },
        JsonCase { "empty_braces_are_text", "o=%7B%7D", R"({"o":"{}"})" },
        JsonCase { "brace_with_line_break_is_text", "o=%7Ba%0Ab%7D", R"({"o":"{a\nb}"})" },
        JsonCase { "number_stays_text", "n=5", R"({"n":"5"})" },
        JsonCase { "empty_value_is_empty_text", "x=", R"({"x":""})" },
        JsonCase { "plus_stays_plus", "p=a+b", R"({"p":"a+b"})" },
        JsonCase { "non_ascii_text_kept", "w=%C3%A9t%C3%A9", R"({"w":"été"})" },
        JsonCase { "full_stop_left_out", "v=1.5&w=a.b", "{}" },
        JsonCase { "quote_caret_apostrophe_star_left_out", "a=x%22&b=x%5E&c=x'&d=x*", "{}" },
        JsonCase { "encoded_ampersand_splits_value", "a=1%262", R"({"a":"1"})" },
        JsonCase { "keys_in_order", "b=2&a=1", R"({"a":"1","b":"2"})" },
        JsonCase { "no_query", "", "{}" }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(QueryToJson, MegabyteValuesDoNotExhaustTheStack)
{
    const int size = 1 << 20;
    QByteArray numbers = "1";
    while (numbers.size() < size)
        numbers += ",1";

    const QJsonObject plain = query_to_json(url_with_query("v=" + QByteArray(size, 'a')));
    EXPECT_EQ(plain.value("v").toString().size(), size);

    const QJsonObject list = query_to_json(url_with_query("v=" + numbers));
    EXPECT_EQ(list.value("v").toArray().size(), numbers.count(',') + 1);

    const QJsonObject braces
        = query_to_json(url_with_query("v=%7B" + QByteArray(size, 'x') + "%7D"));
    EXPECT_TRUE(braces.value("v").isNull());
    EXPECT_TRUE(braces.contains("v"));

    const QJsonObject words = query_to_json(url_with_query("v=" + QByteArray(size, 'w') + ",x"));
    EXPECT_TRUE(words.value("v").isNull());
}

struct ParamsCase
{
    const char* name;
    QByteArray query;
    QByteArray body;
    const char* expected;
};

class RequestParams : public ::testing::TestWithParam<ParamsCase>
{ };

TEST_P(RequestParams, LaysTheQueryOverTheBody)
{
    const ParamsCase& c = GetParam();
    EXPECT_EQ(QString::fromUtf8(request_params(url_with_query(c.query), c.body).compact_text()),
        QString(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Bodies, RequestParams,
    ::testing::Values(
        ParamsCase { "query_replaces_body_key", "a=x", R"({"a":1,"b":2})", R"({"a":"x","b":2})" },
        ParamsCase { "array_body_ignored", "a=x", "[1,2]", R"({"a":"x"})" },
        ParamsCase { "invalid_body_ignored", "a=x", "{nope", R"({"a":"x"})" },
        ParamsCase { "empty_body", "a=x", "", R"({"a":"x"})" },
        ParamsCase { "body_alone", "", R"({"k":[true]})", R"({"k":[true]})" },
        ParamsCase { "left_out_query_value_keeps_body", "a=1.5", R"({"a":1})", R"({"a":1})" },
        // The parser orders keys by code point, insert() by UTF-16 unit: U+E000 before U+1F600.
        ParamsCase { "a_few_items_keep_the_order_the_parser_gave_the_body", "a=4",
            "{\"\xee\x80\x80\":1,\"\xf0\x9f\x98\x80\":2,\"b\":3}",
            "{\"a\":\"4\",\"b\":3,\"\xee\x80\x80\":1,\"\xf0\x9f\x98\x80\":2}" },
        // Qt compares a body's key with its byte order mark, which its QString drops, and keeps
        // the key it holds when it replaces a value.
        ParamsCase { "a_byte_order_mark_keeps_two_body_keys_apart", "%EE%80%80=3",
            "{\"\xef\xbb\xbf"
            "a\":1,\"a\":2}",
            "{\"a\":2,\"\xee\x80\x80\":\"3\",\"a\":1}" },
        ParamsCase { "a_replaced_value_keeps_the_key_as_parsed", "%EF%BB%BFa=3",
            "{\"\xef\xbb\xbf"
            "a\":1}",
            R"({"a":"3"})" }),
    [](const auto& info) { return std::string(info.param.name); });

// Past a few items that move many members, the rest are put in place through chunks of the
// order: still where Qt's own search puts each, for keys that sort before every body key and for
// keys whose order Qt's parser and its search see apart (a byte order mark, raw NULs, U+E000
// beside characters past U+FFFF, escaped keys).
TEST(RequestParams, PutsManyItemsWhereQtInsertingEachPutsIt)
{
    const auto body = [](int count, const std::function<QByteArray(int)>& key) {
        QByteArray text = "{";
        for (int i = 0; i < count; ++i)
            text += (i ? ",\"" : "\"") + key(i) + "\":" + QByteArray::number(i);
        return text + "}";
    };
    const auto query = [](int count, const std::function<QByteArray(int)>& key) {
        QByteArray text;
        for (int i = 0; i < count; ++i)
            text += (i ? "&" : "") + key(i) + "=" + QByteArray::number(i);
        return text;
    };
    const auto n = [](int i) { return QByteArray::number(i); };
    static const char* const starts[]
        = { "", "\xef\xbb\xbf", "\xee\x80\x80", "\xf0\x9f\x98\x80", "k\x00", "\\u00e9", "\\ud83d" };
    static const char* const query_starts[]
        = { "", "%EF%BB%BF", "%EE%80%80", "%F0%9F%98%80", "k%00", "%C3%A9", "%ED%A0%BD" };
    struct row
    {
        const char* behaviour;
        QByteArray body;
        QByteArray query;
    };
    const row rows[] = {
        { "items_before_every_body_key", body(200, [&](int i) { return "k" + n(1000 + i); }),
            query(300, [&](int i) { return "a" + n(1000 + i); }) },
        { "keys_the_parser_and_the_search_see_apart",
            body(210, [&](int i) { return starts[i % 7] + n(i % 30); }),
            query(300, [&](int i) { return query_starts[i % 7] + n(i * 7 % 40); }) },
    };
    for (const row& r : rows) {
        const QUrl url = url_with_query(r.query);
        QJsonObject qt = QJsonDocument::fromJson(r.body).object();
        const QJsonObject items = query_to_json(url);
        ASSERT_GT(items.size(), 200) << r.behaviour;
        for (auto it = items.constBegin(); it != items.constEnd(); ++it)
            qt.insert(it.key(), it.value());
        EXPECT_EQ(QString::fromUtf8(request_params(url, r.body).compact_text()), compact(qt))
            << r.behaviour;
    }
}

} // namespace
