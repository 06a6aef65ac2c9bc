#include "handlers/driver/tornel_download_index.h"

#include "access/access_helper.h"
#include "router/http_exception.h"

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

} // namespace

bool tornel_send_reply(QJsonDocument& reply, instance_replies& replies, access_helper& access)
{
    const QJsonObject part = reply.object();
    for (auto it = part.begin(); it != part.end(); ++it) {
        const QString db_id = it.value().toObject().value(QLatin1String("bd_id")).toString();
        // The Redis store would hand out a fresh index even for an empty id.
        const int index = db_id.isEmpty() ? 0 : access.register_dl_index(db_id);
        replies.merged.insert(it.key(), index);
    }
    if (!replies.count())
        return false;
    reply = keyed_answer(QStringLiteral("cmd_id"), replies.merged);
    return true;
}

QJsonArray db_ids_of_commands(const QString& cmd_id, access_helper& access)
{
    const QStringList items = cmd_id.split(QLatin1Char(','));
    QList<int> indexes;
    for (const QString& item : items)
        indexes.append(item.toInt(nullptr, 10));
    const QStringList found = access.dl_db_ids_of(indexes);
    QJsonArray db_ids;
    for (int i = 0; i < items.size(); ++i) {
        if (found[i].isEmpty())
            throw http_exception(QStringLiteral("Unknown cmd_id: %1").arg(items[i]), 403);
        db_ids.append(found[i]);
    }
    return db_ids;
}

bool tornel_status_reply(QJsonDocument& reply, instance_replies& replies, access_helper& access)
{
    const QJsonObject part = reply.object();
    const QList<int> indexes = access.dl_indexes_of(part.keys());
    int i = 0;
    for (auto it = part.begin(); it != part.end(); ++it, ++i) {
        const QString status = it.value().toObject().value(QLatin1String("dl_status")).toString();
        replies.merged.insert(QString::number(indexes[i]), status_answer(status));
    }
    if (!replies.count())
        return false;
    reply = QJsonDocument(replies.merged);
    return true;
}
