#include "handlers/modem/dl_queue_paging.h"

#include "router/json_object_builder.h"

#include <algorithm>

namespace {

// QList::mid's clamping, on 64-bit start and length.
QStringList mid(const QStringList& list, qint64 start, qint64 length)
{
    const qint64 n = list.size();
    if (n == 0 || start > n)
        return {};
    if (start < 0) {
        if (length < 0 || start + length >= n)
            return list;
        if (start + length <= 0)
            return {};
        length += start;
        start = 0;
    } else if (length < 0 || length > n - start) {
        length = n - start;
    }
    if (length <= 0)
        return {};
    return list.mid(int(start), int(length));
}

QJsonDocument queue_answer(const QString& key, const QJsonValue& value)
{
    return QJsonDocument(QJsonObject {
        { "all", QJsonObject { { "action", "get" }, { "status", "ok" }, { key, value } } } });
}

} // namespace

void page_modem_list(QJsonObject& data, QStringList& modems)
{
    std::sort(modems.begin(), modems.end());
    const qint64 n = modems.size();
    qint64 offset = data.value(QStringLiteral("offset")).toVariant().toLongLong();
    qint64 limit = data.value(QStringLiteral("limit")).toVariant().toLongLong();
    if (offset >= n) {
        offset = n - 1;
        limit = 1;
    }
    if (offset + limit > n)
        limit = n - offset;
    data.insert(QStringLiteral("offset"), offset);
    data.insert(QStringLiteral("limit"), limit);
    modems = mid(modems, offset, limit);
}

bool dl_queue_reply(QJsonDocument& reply, instance_replies& replies, const dl_queue_request& sent)
{
    const bool counted = sent.restricted
        && (sent.mode == QLatin1String("modem_count") || sent.mode == QLatin1String("modem_list"));
    if (counted) {
        if (!replies.count())
            return false;
        reply = sent.mode == QLatin1String("modem_count")
            ? queue_answer(QStringLiteral("total_count"), sent.total_modems)
            : queue_answer(QStringLiteral("modem_list"), sent.modem_list);
        return true;
    }
    if (sent.mode == QLatin1String("queue_list")) {
        if (!replies.merge(reply.object().value("all").toObject().value("dl").toObject()))
            return false;
        reply = queue_answer(QStringLiteral("dl"), replies.merged);
        return true;
    }
    return merge_instance_replies(reply, replies);
}
