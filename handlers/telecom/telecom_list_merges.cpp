#include "handlers/telecom/telecom_list_merges.h"

#include "handlers/telecom/lenient_json.h"
#include "router/message_order.h"

#include <QDebug>

namespace {

void append_all(QJsonArray& to, const QJsonArray& from)
{
    for (const QJsonValue& value : from)
        to.append(value);
}

// The answer of a message list: the joined elements in order, cut to the limit.
bool answer_messages(QJsonDocument& reply, const QJsonArray& elements, message_order order,
    const QJsonObject& request)
{
    const QJsonValue limit = request.value(QLatin1String("limit"));
    reply = QJsonDocument(first_elements(
        sorted_newest_first(elements, order), limit.isUndefined() ? 100 : read_int32(limit)));
    return true;
}

} // namespace

QJsonArray first_elements(const QJsonArray& elements, qint64 limit)
{
    if (limit < 0 || limit >= elements.size())
        return elements;
    QJsonArray kept;
    for (int i = 0; i < int(limit); ++i)
        kept.append(elements.at(i));
    return kept;
}

bool object_list_merge::collect_reply(QJsonDocument& reply, const QJsonObject&, int instances)
{
    ++counter;
    objects.append(reply.object());
    if (counter < instances)
        return false;
    reply = QJsonDocument(objects);
    return true;
}

QJsonObject sum_device_objects(const QJsonArray& objects)
{
    qint64 modems = 0; // N replies of up to 2^31 each: the exact sum needs 64 bits
    QJsonArray x_ids, types, protocols;
    for (const QJsonValue& value : objects) {
        const QJsonObject object = value.toObject();
        modems += read_int32(object.value(QLatin1String("modems")));
        append_all(x_ids, object.value(QLatin1String("x_ids")).toArray());
        append_all(types, object.value(QLatin1String("types")).toArray());
        append_all(protocols, object.value(QLatin1String("protocols")).toArray());
    }
    QJsonObject sum { { QStringLiteral("modems"), modems }, { QStringLiteral("x_ids"), x_ids } };
    if (!types.isEmpty())
        sum.insert(QStringLiteral("types"), types);
    if (!protocols.isEmpty())
        sum.insert(QStringLiteral("protocols"), protocols);
    return sum;
}

bool device_list_merge::collect_reply(QJsonDocument& reply, const QJsonObject&, int instances)
{
    if (reply.isArray())
        append_all(elements, reply.array());
    else if (reply.isObject())
        objects.append(reply.object());
    if (++counter < instances)
        return false;
    reply = reply.isObject() ? QJsonDocument(sum_device_objects(objects)) : QJsonDocument(elements);
    return true;
}

bool message_list_merge::collect_reply(
    QJsonDocument& reply, const QJsonObject& request, int instances)
{
    append_all(elements, reply.array());
    if (++counter < instances)
        return false;
    const bool by_saved = read_int32(request.value(QLatin1String("time_saved"))) != 0;
    return answer_messages(
        reply, elements, by_saved ? time_saved_greater : time_detected_greater, request);
}

bool dl_message_list_merge::collect_reply(
    QJsonDocument& reply, const QJsonObject& request, int instances)
{
    qDebug() << "dl_messages reply" << reply << "request" << request;
    append_all(elements, reply.array());
    if (++counter < instances)
        return false;
    return answer_messages(reply, elements, posted_time_greater, request);
}
