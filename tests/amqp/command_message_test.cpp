#include "amqp/command_id.h"
#include "amqp/command_message.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

namespace {

// What the links wrote before the direct writer: the object through QJsonDocument.
QByteArray through_json_document(const QUuid& id, const QJsonObject& data, const QString& type,
    const QString& sender, int sharded)
{
    QJsonObject message;
    if (sharded != 0)
        message.insert("sharded", sharded);
    message.insert("msg_type", type);
    message.insert("sender", sender);
    message.insert("cmd_id", id.toString());
    message.insert("data", data);
    return QJsonDocument(message).toJson(QJsonDocument::Compact);
}

TEST(CommandMessage, ReadsAsQJsonDocumentWritesIt)
{
    const QUuid id("{0f8fad5b-d9cb-469f-a165-70867728950e}");
    QJsonObject nested;
    nested.insert("list", QJsonArray { 1, 2.5, "x\ty", QJsonValue::Null, true });
    nested.insert("text", QString::fromUtf8("caf\xc3\xa9 \"quoted\" back\\slash"));
    nested.insert("big", 1e15);
    struct row
    {
        const char* behaviour;
        QJsonObject data;
        QString type;
        QString sender;
        int sharded;
    };
    const row rows[] = {
        { "usual command", {}, "version", "gw.replies", 0 },
        { "empty sender", {}, "version", "", 0 },
        { "empty type", {}, "", "gw.replies", 0 },
        { "type and sender of whole and partial chunks", {}, QString(64, 'v'), QString(129, 's'),
            0 },
        { "parameters of every JSON kind", nested, "settings", "gw.replies", 0 },
        { "sharded last", {}, "version", "gw.replies", 5 },
        { "negative sharded", {}, "version", "gw.replies", -1 },
        { "large sharded", {}, "version", "gw.replies", 1000000 },
        { "type with a quote", {}, "ver\"sion", "gw", 0 },
        { "type with a control character", {}, QString("a\nb") + QChar(1), "gw", 0 },
        { "sender beyond ASCII", {}, "version", QString::fromUtf8("r\xc3\xa9ply \xf0\x9f\x98\x80"),
            0 },
        { "delete character", {}, QString("a") + QChar(0x7f), "gw", 0 },
    };
    for (const row& r : rows)
        EXPECT_EQ(command_message(id, r.data, r.type, r.sender, r.sharded),
            through_json_document(id, r.data, r.type, r.sender, r.sharded))
            << r.behaviour;
    // The id written in place, for ids of every shape.
    for (int i = 0; i < 2000; ++i) {
        const QUuid random = i == 0 ? QUuid() : new_command_id();
        ASSERT_EQ(command_message(random, {}, "version", "gw", 0),
            through_json_document(random, {}, "version", "gw", 0))
            << random.toString().toStdString();
    }
}

// The ready members of a command's data go out where Qt puts them once parsed in: merged
// with the object's members in key order, UTF-16 units compared, replacing a member of the
// same key.
TEST(CommandMessage, ReadyMembersReadAsIfParsedIn)
{
    const QUuid id("{0f8fad5b-d9cb-469f-a165-70867728950e}");
    const QString smiley = QString::fromUtf8("\xf0\x9f\x98\x80"); // a surrogate pair
    const QString private_use(QChar(0xE000)); // after the pair in UTF-16, before it in UTF-8
    struct row
    {
        const char* behaviour;
        QJsonObject object;
        std::vector<std::pair<QString, QByteArray>> ready;
    };
    const row rows[] = {
        { "ready only", {}, { { "setting", R"({"1":{"a":1},"2":[true,null]})" } } },
        { "ready before the object's members", { { "m", 1 }, { "z", "x" } }, { { "a", "[1,2]" } } },
        { "ready between", { { "a", 1 }, { "z", 2 } }, { { "m", R"({"x":"y"})" } } },
        { "ready after", { { "a", 1 }, { "b", 2 } }, { { "zz", R"("text")" } } },
        { "ready replaces a member", { { "a", 1 }, { "m", QJsonObject { { "old", true } } } },
            { { "m", "[true,null]" } } },
        { "several, interleaved", { { "b", 1 }, { "d", 2 }, { "f", 3 } },
            { { "a", "0" }, { "c", "{}" }, { "e", "[]" }, { "g", "-1.5" } } },
        { "every member replaced", { { "a", 1 }, { "b", 2 } }, { { "a", "3" }, { "b", "4" } } },
        { "a prefix of another key", { { "ab", 1 } }, { { "a", "2" }, { "abc", "3" } } },
        { "keys beyond ASCII", { { QString::fromUtf8("\xc3\xa4"), 1 }, { "z", 2 } },
            { { QString::fromUtf8("\xc3\xa9"), "1" }, { "y", "\"caf\xc3\xa9\"" } } },
        { "keys in UTF-16 order", { { private_use, 1 } }, { { smiley, "2" }, { "~", "3" } } },
        { "keys that need escapes", { { "a\"b", 1 } }, { { "a\\b", "2" }, { "a\nb", "3" } } },
    };
    for (const row& r : rows) {
        command_data data(r.object);
        QJsonObject parsed_in = r.object;
        for (const auto& member : r.ready) {
            data.insert_ready(member.first, member.second);
            parsed_in.insert(
                member.first, QJsonDocument::fromJson("[" + member.second + "]").array().at(0));
        }
        EXPECT_EQ(command_message(id, data, "settings", "gw.replies", 0),
            through_json_document(id, parsed_in, "settings", "gw.replies", 0))
            << r.behaviour;
        EXPECT_EQ(data.parsed(), parsed_in) << r.behaviour;
    }
}

// A ready text is the caller's: it goes out as given, never read and written again.
TEST(CommandMessage, ReadyTextGoesOutAsGiven)
{
    command_data data(QJsonObject { { "b", 1 } });
    data.insert_ready("a", "[1.0, 2]");
    EXPECT_EQ(command_message(QUuid(), data, "t", "s", 0),
        QByteArray(R"({"cmd_id":"{00000000-0000-0000-0000-000000000000}",)"
                   R"("data":{"a":[1.0, 2],"b":1},"msg_type":"t","sender":"s"})"));
    const command_data whole = command_data::ready_object(R"({"z":[1.0, 2],"a":1})");
    EXPECT_EQ(command_message(QUuid(), whole, "t", "s", 0),
        QByteArray(R"({"cmd_id":"{00000000-0000-0000-0000-000000000000}",)"
                   R"("data":{"z":[1.0, 2],"a":1},"msg_type":"t","sender":"s"})"));
    EXPECT_EQ(whole.parsed(), (QJsonObject { { "a", 1 }, { "z", QJsonArray { 1, 2 } } }));
}

// The whole data as one ready object: written where the object went, its text as given, the
// same whether the data is kept or handed on.
TEST(CommandMessage, ReadyObjectIsTheWholeData)
{
    const QUuid id("{0f8fad5b-d9cb-469f-a165-70867728950e}");
    const QByteArray texts[]
        = { "{}", R"({"a":[1,{"b":null}],"z":"x"})", "{\"\xc3\xa9\":\"\\u0001\"}" };
    for (const QByteArray& text : texts) {
        const command_data data = command_data::ready_object(text);
        const QJsonObject object = QJsonDocument::fromJson(text).object();
        const QByteArray expected = through_json_document(id, object, "set", "gw", 3);
        EXPECT_EQ(command_message(id, data, "set", "gw", 3), expected) << text.constData();
        EXPECT_EQ(command_message(id, command_data::ready_object(text), "set", "gw", 3), expected)
            << text.constData();
        EXPECT_EQ(data.parsed(), object) << text.constData();
    }
    EXPECT_EQ(command_message(QUuid(), command_data::ready_object("{\"b\":1.0}"), "t", "s", 0),
        QByteArray(R"({"cmd_id":"{00000000-0000-0000-0000-000000000000}",)"
                   R"("data":{"b":1.0},"msg_type":"t","sender":"s"})"));
}

// A data that is handed on gives its one ready text to the message; one that is kept keeps it.
TEST(CommandMessage, AKeptReadyTextIsLeftAsItWas)
{
    command_data data;
    data.insert_ready("list", "[1,2]");
    const QByteArray message = command_message(QUuid(), data, "t", "s", 0);
    EXPECT_EQ(message,
        QByteArray(R"({"cmd_id":"{00000000-0000-0000-0000-000000000000}",)"
                   R"("data":{"list":[1,2]},"msg_type":"t","sender":"s"})"));
    EXPECT_EQ(data.ready().at("list"), "[1,2]");
    EXPECT_EQ(command_message(QUuid(), std::move(data), "t", "s", 0), message);
}

TEST(CommandId, FreshRandomVersionFourIds)
{
    QSet<QUuid> seen;
    for (int i = 0; i < 1000; ++i) { // spans several blocks of random bytes
        const QUuid id = new_command_id();
        ASSERT_EQ(id.version(), QUuid::Random) << id.toString().toStdString();
        ASSERT_EQ(id.variant(), QUuid::DCE) << id.toString().toStdString();
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 1000);
}

} // namespace
