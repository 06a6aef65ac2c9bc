#include "handlers/driver/tornel_download_index.h"

#include "access/access_helper.h"
#include "access/distinct_list.h"
#include "router/http_exception.h"
#include "router/json_object_builder.h"
#include "router/list_items.h"
#include "json/json_array_text.h"
#include "json/json_text.h"

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
    if (!replies.merge(indexes.take()))
        return false;
    reply = keyed_answer(QStringLiteral("cmd_id"), replies.merged);
    return true;
}

QByteArray db_ids_of_commands(const QString& cmd_id, access_helper& access)
{
    distinct_list<int> indexes;
    std::vector<int> positions; // of each run of equal items, so that none is looked up twice
    for_each_comma_run(cmd_id, [&](QStringView item, qsizetype) {
        positions.push_back(indexes.add(index_of_item(item)));
    });
    const packed_texts db_ids = access.dl_db_ids_of(indexes.values());
    json_array_text json;
    // Each database id is written once for a run of items naming it.
    auto position = positions.begin();
    int last = -1;
    QByteArray db_id;
    for_each_comma_run(cmd_id, [&](QStringView item, qsizetype count) {
        const int index = *position++;
        if (db_ids.is_empty(index))
            throw http_exception(QStringLiteral("Unknown cmd_id: ") + item.toString(), 403);
        if (index != last) {
            db_id.clear();
            append_qt_json_string(db_id, db_ids.bytes(index));
        }
        last = index;
        json.add_text(db_id.constData(), db_id.size(), count);
    });
    return json.take();
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
    if (!replies.merge(statuses.take()))
        return false;
    reply = QJsonDocument(replies.merged);
    return true;
}
