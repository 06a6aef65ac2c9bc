#include "handlers/modem/instance_replies.h"

#include "router/json_helpers.h"
#include "router/json_object_builder.h"

#include <QJsonArray>

bool merge_instance_replies(QJsonDocument& reply, instance_replies& replies)
{
    return merge_json_object(reply, replies.merged, replies.expected, replies.counter);
}

QJsonDocument member_array_answer(const QJsonObject& merged, const QString& member)
{
    return QJsonDocument(merged.value(member).toArray());
}

QJsonDocument keyed_answer(const QString& key, const QJsonObject& merged)
{
    return QJsonDocument(QJsonObject { { key, merged } });
}

bool device_supported_reply(
    QJsonDocument& reply, instance_replies& replies, const QStringList& requested)
{
    QJsonObject part = reply.object();
    // In place: the keys keep their order and nothing moves.
    for (auto it = part.begin(); it != part.end(); ++it) {
        if (!it.value().isObject())
            it.value() = QJsonObject();
    }
    insert_all(replies.merged, part);
    if (!replies.count())
        return false;
    // The requested list is the caller's, in the caller's order.
    json_object_builder unsupported;
    const QJsonObject description { { "supported", false } };
    for (const QString& modem : requested) {
        if (!replies.merged.contains(modem))
            unsupported.insert(modem, description);
    }
    insert_all(replies.merged, unsupported.take());
    reply = QJsonDocument(replies.merged);
    return true;
}
