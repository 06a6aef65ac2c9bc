#include "handlers/modem/instance_replies.h"

#include "router/json_helpers.h"
#include "router/json_object_builder.h"
#include "router/list_items.h"

#include <QJsonArray>

bool instance_replies::merge(QJsonObject part)
{
    waiting.push_back(std::move(part));
    if (!count())
        return false;
    insert_all(merged, std::move(waiting));
    waiting.clear();
    return true;
}

bool merge_instance_replies(QJsonDocument& reply, instance_replies& replies)
{
    // The last reply goes through the common merge, over the earlier ones merged at once.
    if (replies.counter + 1 < replies.expected) {
        replies.waiting.push_back(reply.object());
        ++replies.counter;
        return false;
    }
    insert_all(replies.merged, std::move(replies.waiting));
    replies.waiting.clear();
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

bool device_supported_reply(QJsonDocument& reply, instance_replies& replies, QStringView requested)
{
    QJsonObject part = reply.object();
    // In place: the keys keep their order and nothing moves.
    for (auto it = part.begin(); it != part.end(); ++it) {
        if (!it.value().isObject())
            it.value() = QJsonObject();
    }
    if (!replies.merge(std::move(part)))
        return false;
    // The requested list is the caller's, in the caller's order.
    json_object_builder unsupported;
    const QJsonObject description { { "supported", false } };
    // A run of one modem is looked at once: the builder keeps one of equal keys all the same.
    for_each_comma_run(requested, [&](QStringView modem, qsizetype) {
        if (!replies.merged.contains(modem))
            unsupported.insert(modem.toString(), description);
    });
    insert_all(replies.merged, unsupported.take());
    reply = QJsonDocument(replies.merged);
    return true;
}
