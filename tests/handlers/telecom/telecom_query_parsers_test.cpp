#include "handlers/telecom/telecom_key_lists.h"

#include <QJsonDocument>
#include <gtest/gtest.h>
#include <zlib.h>

// The typed GET parsers and the array-body POST parsers of the telecom commands.

namespace {

// The command data a parser makes, as its text.
template <class Parser>
QByteArray text_of(const QUrl& url, const QByteArray& body)
{
    return json_overlay(Parser::parse(url, body)).compact_text();
}

TEST(telecom_query_parsers, type_each_item_by_the_commands_key_list)
{
    const QByteArray bytes = QByteArray("k\xc3\xbc\x00\xff", 5);
    EXPECT_EQ(
        crc32_of(bytes.constData(), 5), crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), 5));
    static_assert(telecom_keys::api_key::value == 3373460893u);

    using namespace telecom_query;
    using parse_fn = QByteArray (*)(const QUrl&, const QByteArray&);
    struct row
    {
        const char* behaviour;
        parse_fn parse;
        const char* query;
        QByteArray body;
        const char* expected;
    };
    const row rows[] = {
        { "a bad integer reads 0, a list is split", &text_of<messages>, "limit=abc&bs_ids=1,,2", {},
            R"({"bs_ids":["1","","2"],"limit":0})" },
        { "an empty list is one empty text", &text_of<messages>, "bs_ids=", {},
            R"({"bs_ids":[""]})" },
        { "items without one = are dropped", &text_of<messages>, "bs_ids&timefrom=1=2", {}, "{}" },
        { "the last of a repeated key wins", &text_of<messages>, "limit=5&limit=7", {},
            R"({"limit":7})" },
        { "keys are case-sensitive; others stay texts", &text_of<messages>, "LIMIT=5&=5", {},
            R"({"":"5","LIMIT":"5"})" },
        { "out of the 32-bit range reads 0", &text_of<messages>, "limit=2147483648", {},
            R"({"limit":0})" },
        { "a key of another list stays a text", &text_of<sthistory>, "period=3", {},
            R"({"period":"3"})" },
        { "the command's own list types it", &text_of<ststats>, "period=3", {}, R"({"period":3})" },
        { "escaped & and = split after decoding", &text_of<send_dl>, "modem_id=12%26f_ack%3D1", {},
            R"({"f_ack":1,"modem_id":12})" },
        { "an array body", &text_of<BsPostQueryParser>, "n=1,2", "[1,2]",
            R"({"bs_array":[1,2],"n":[1,2]})" },
        { "an object body gives []", &text_of<DevicePostQueryParser>, "", R"({"a":1})",
            R"({"device_array":[]})" },
        { "the body replaces a query item", &text_of<ClientsPostQueryParser>, "clients_devices=x",
            "[3]", R"({"clients_devices":[3]})" },
    };
    for (const row& r : rows) {
        const QUrl url(QStringLiteral("http://h/t?") + QString::fromUtf8(r.query));
        EXPECT_EQ(r.parse(url, r.body), r.expected) << r.behaviour;
    }
}

} // namespace
