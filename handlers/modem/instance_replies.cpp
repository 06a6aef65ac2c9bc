#include "handlers/modem/instance_replies.h"

#include "router/json_helpers.h"

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
    const QJsonObject part = reply.object();
    for (auto it = part.begin(); it != part.end(); ++it)
        replies.merged.insert(it.key(), it.value().toObject());
    if (!replies.count())
        return false;
    for (const QString& modem : requested) {
        if (!replies.merged.contains(modem))
            replies.merged.insert(modem, QJsonObject { { "supported", false } });
    }
    reply = QJsonDocument(replies.merged);
    return true;
}
