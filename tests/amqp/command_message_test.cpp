#include "amqp/command_id.h"
#include "amqp/command_message.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <gtest/gtest.h>

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
