#include "handlers/telecom/telecom_key_lists.h"

#include <QJsonDocument>
#include <gtest/gtest.h>
#include <zlib.h>

// The typed GET parsers and the array-body POST parsers of the telecom commands.

namespace {

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QUrl url_of(const char* query)
{
    return QUrl(QStringLiteral("http://h/telecom/api/x?") + QString::fromUtf8(query));
}

TEST(telecom_key_crc, matches_the_zlib_sum_for_every_byte_value)
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i));
    const char* texts[] = { "", "limit", "api_key", "bs_ids", "Ümlaut" };
    for (const char* text : texts) {
        const QByteArray t(text);
        EXPECT_EQ(crc32_of(QString::fromUtf8(t)),
            crc32(0, reinterpret_cast<const Bytef*>(t.constData()), uInt(t.size())))
            << text;
    }
    EXPECT_EQ(crc32_of(bytes.constData(), std::size_t(bytes.size())),
        crc32(0, reinterpret_cast<const Bytef*>(bytes.constData()), 256));
    EXPECT_EQ(telecom_keys::limit::value, 2140596320u);
}

TEST(telecom_get_parser, types_each_item_by_the_commands_key_list)
{
    using namespace telecom_query;
    using parse_fn = QJsonObject (*)(const QUrl&, const QByteArray&);
    struct row
    {
        const char* behaviour;
        parse_fn parse;
        const char* query;
        const char* expected;
    };
    const row rows[] = {
        { "a bad integer reads 0, a list is split", &messages::parse, "limit=abc&bs_ids=1,2",
            R"({"bs_ids":["1","2"],"limit":0})" },
        { "an empty integer reads 0", &messages::parse, "limit=", R"({"limit":0})" },
        { "an empty list is one empty text", &messages::parse, "bs_ids=", R"({"bs_ids":[""]})" },
        { "empty list pieces are kept", &messages::parse, "bs_ids=1,,2",
            R"({"bs_ids":["1","","2"]})" },
        { "an item without = is dropped", &messages::parse, "bs_ids", "{}" },
        { "an item with two = is dropped", &messages::parse, "timefrom=1=2", "{}" },
        { "the last of a repeated key wins", &messages::parse, "limit=5&limit=7",
            R"({"limit":7})" },
        { "keys are case-sensitive; unlisted keys stay texts", &messages::parse, "LIMIT=5",
            R"({"LIMIT":"5"})" },
        { "out of the 32-bit range reads 0", &messages::parse, "limit=2147483648",
            R"({"limit":0})" },
        { "a key of another list stays a text", &sthistory::parse, "period=3",
            R"({"period":"3"})" },
        { "the command's own list types it", &ststats::parse, "period=3", R"({"period":3})" },
        { "an empty key", &messages::parse, "=5", R"({"":"5"})" },
        { "escaped & and = split after decoding", &send_dl::parse, "modem_id=12%26f_ack%3D1",
            R"({"f_ack":1,"modem_id":12})" },
        { "a key known by its sum alone", &device::parse, "clear=1&limit=-32&offset=x",
            R"({"clear":1,"limit":-32,"offset":0})" },
        { "no query", &bs::parse, "", "{}" },
    };
    for (const row& r : rows)
        EXPECT_EQ(compact(r.parse(url_of(r.query), {})), r.expected) << r.behaviour;
}

TEST(telecom_get_parser, recognises_keys_by_their_sum_alone)
{
    // A key whose text is unknown is matched by its CRC-32; one parser per entry kind.
    using probe = ParametricGetQueryParser<query_key<strc_crc<crc32_of("anything")>, IntParser>,
        query_key<strc_crc<crc32_of("list")>, ArrayParser>>;
    EXPECT_EQ(compact(probe::parse(url_of("anything=4&list=a,b&other=1"))),
        R"({"anything":4,"list":["a","b"],"other":"1"})");
}

TEST(telecom_post_parser, takes_the_bodys_top_level_array_under_its_member)
{
    using parse_fn = QJsonObject (*)(const QUrl&, const QByteArray&);
    struct row
    {
        const char* behaviour;
        parse_fn parse;
        const char* query;
        QByteArray body;
        const char* expected;
    };
    const row rows[] = {
        { "an array body", &BsPostQueryParser::parse, "", "[1,2]", R"({"bs_array":[1,2]})" },
        { "an object body gives []", &BsPostQueryParser::parse, "", R"({"a":1})",
            R"({"bs_array":[]})" },
        { "an empty body gives []", &DevicePostQueryParser::parse, "", "",
            R"({"device_array":[]})" },
        { "invalid JSON gives []", &ClientsPostQueryParser::parse, "", "[1,",
            R"({"clients_devices":[]})" },
        { "the body replaces a query item of the same name", &ClientsPostQueryParser::parse,
            "clients_devices=x&n=1,2", "[3]", R"({"clients_devices":[3],"n":[1,2]})" },
    };
    for (const row& r : rows)
        EXPECT_EQ(compact(r.parse(url_of(r.query), r.body)), r.expected) << r.behaviour;
}

} // namespace
