#include "handlers/driver/tornel_version_list.h"

#include "handlers/driver/tornel_numbers.h"

#include <QJsonObject>

namespace {

void put_groups(
    QJsonObject& answer, const QString& name, const QMap<QString, QList<qint64>>& groups)
{
    QJsonObject ids;
    QJsonObject sizes;
    for (auto it = groups.cbegin(); it != groups.cend(); ++it) {
        ids.insert(it.key(), int_list_to_json_array(it.value()));
        sizes.insert(it.key(), it.value().size());
    }
    answer.insert(name, ids);
    answer.insert(name + QLatin1String("_size"), sizes);
}

} // namespace

QJsonArray int_list_to_json_array(const QList<qint64>& list)
{
    QJsonArray array;
    for (const qint64 id : list)
        array.append(id);
    return array;
}

bool tornel_version_list_reply(
    QJsonDocument& reply, instance_replies& replies, version_groups& groups)
{
    const QString version = QStringLiteral("version");
    const QJsonObject meters = reply.object();
    for (auto it = meters.begin(); it != meters.end(); ++it) {
        const qint64 id = modem_number(it.key());
        const QJsonObject meter = it.value().toObject();
        QString hw;
        QString sw;
        if (meter.contains(version)) {
            const QJsonObject v = meter.value(version).toObject();
            hw = v.value(QLatin1String("hw")).toString();
            sw = v.value(QLatin1String("sw")).toString();
        }
        groups.hw[hw].append(id);
        groups.sw[sw].append(id);
    }
    if (!replies.count())
        return false;
    put_groups(replies.merged, QStringLiteral("hw"), groups.hw);
    put_groups(replies.merged, QStringLiteral("sw"), groups.sw);
    reply = QJsonDocument(replies.merged);
    return true;
}
