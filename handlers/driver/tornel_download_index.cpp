#include "handlers/driver/tornel_download_index.h"

#include "access/access_helper.h"
#include "access/distinct_list.h"
#include "router/http_exception.h"
#include "router/json_object_builder.h"
#include "router/list_items.h"

#include <QJsonObject>

namespace {

QString status_answer(const QString& status)
{
    if (status == QLatin1String("EXECUTED"))
        return QStringLiteral("DONE");
    if (status == QLatin1String("TIMEOUT"))
        return QStringLiteral("FAILED");
    return status;
}

// A "cmd_id" item as a download index: decimal, other text 0.
int index_of_item(QStringView item)
{
    bool ok = false;
    const int index = item_to_int(item, &ok);
    return ok ? index : 0;
}

// The positions of the items of a "cmd_id" text among its distinct indexes, one item after
// another.
template <class Take>
void for_each_index_position(QStringView cmd_id, const distinct_list<int>& indexes, Take&& take)
{
    int position = -1;
    for_each_comma_item_with_repeats(cmd_id, [&](QStringView item, bool repeat) {
        if (!repeat)
            position = indexes.position(index_of_item(item));
        take(item, position);
    });
}

} // namespace

bool tornel_send_reply(QJsonDocument& reply, instance_replies& replies, access_helper& access)
{
    const QJsonObject part = reply.object();
    json_object_builder indexes;
    indexes.reserve(std::size_t(part.size()));
    for (auto it = part.begin(); it != part.end(); ++it) {
        const QString db_id = it.value().toObject().value(QLatin1String("bd_id")).toString();
        // The Redis store would hand out a fresh index even for an empty id.
        const int index = db_id.isEmpty() ? 0 : access.register_dl_index(db_id);
        indexes.insert(it.key(), index);
    }
    insert_all(replies.merged, indexes.take());
    if (!replies.count())
        return false;
    reply = keyed_answer(QStringLiteral("cmd_id"), replies.merged);
    return true;
}

QJsonArray db_ids_of_commands(const QString& cmd_id, access_helper& access)
{
    distinct_list<int> indexes;
    for_each_comma_item_with_repeats(cmd_id, [&](QStringView item, bool repeat) {
        if (!repeat)
            indexes.add(index_of_item(item));
    });
    const packed_texts db_ids = access.dl_db_ids_of(indexes.values());
    QJsonArray json;
    // Each database id becomes a text once for a run of items naming it.
    int last = -1;
    QJsonValue db_id;
    for_each_index_position(cmd_id, indexes, [&](QStringView item, int position) {
        if (db_ids.is_empty(position))
            throw http_exception(QStringLiteral("Unknown cmd_id: ") + item.toString(), 403);
        if (position != last)
            db_id = db_ids.text(position);
        last = position;
        json.append(db_id);
    });
    return json;
}

bool tornel_status_reply(QJsonDocument& reply, instance_replies& replies, access_helper& access)
{
    const QJsonObject part = reply.object();
    const QList<int> indexes = access.dl_indexes_of(part.keys());
    // The indexes come in the order of the database ids, not their own.
    json_object_builder statuses;
    statuses.reserve(std::size_t(part.size()));
    int i = 0;
    for (auto it = part.begin(); it != part.end(); ++it, ++i) {
        const QString status = it.value().toObject().value(QLatin1String("dl_status")).toString();
        statuses.insert(QString::number(indexes[i]), status_answer(status));
    }
    insert_all(replies.merged, statuses.take());
    if (!replies.count())
        return false;
    reply = QJsonDocument(replies.merged);
    return true;
}
