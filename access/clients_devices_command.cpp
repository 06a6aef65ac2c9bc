#include "access/clients_devices_command.h"

#include <QJsonArray>
#include <QJsonValue>
#include <cmath>
#include <limits>

namespace {

const QString total_client = QStringLiteral("total");

// An id must be a whole number within 32 bits; anything else is read as 0.
QString id_text(const QJsonValue& value)
{
    const double number = value.isDouble() ? value.toDouble() : 0.0;
    if (std::trunc(number) != number || number < std::numeric_limits<int>::min()
        || number > std::numeric_limits<int>::max())
        return QStringLiteral("0");
    return QString::number(static_cast<int>(number));
}

QSet<keyed_text> id_set(const QJsonValue& ids)
{
    QSet<keyed_text> result;
    for (const QJsonValue& id : ids.toArray())
        result.insert(id_text(id));
    return result;
}

void stage(ownership_table& table, const QString& client, const QSet<keyed_text>& ids)
{
    if (ids.isEmpty())
        table.remove(client);
    else
        table.insert(client, ids);
    table[total_client] += ids;
}

} // namespace

ClientsDevicesCommand::ClientsDevicesCommand(ownership_table* staging_devices,
    ownership_table* staging_stations, std::shared_ptr<QTimer> commit_timer)
    : staging_devices_(staging_devices)
    , staging_stations_(staging_stations)
    , commit_timer_(std::move(commit_timer))
{ }

ClientsDevicesCommand::~ClientsDevicesCommand() = default;

QJsonObject ClientsDevicesCommand::execute(const rabbit_message& message)
{
    const QJsonArray clients = message.data.isArray() ? message.data.array() : QJsonArray();
    for (const QJsonValue& element : clients) {
        const QJsonObject entry = element.toObject();
        const QString api_key = entry.value("api_key").toString();
        if (api_key.isEmpty())
            continue;
        stage(*staging_devices_, api_key, id_set(entry.value("modem_ids")));
        stage(*staging_stations_, api_key, id_set(entry.value("station_ids")));
    }
    // Every push postpones the switch-over, so a burst is applied once, after it ends.
    commit_timer_->start();
    return QJsonObject();
}

QString ClientsDevicesCommand::name()
{
    return QStringLiteral("clients_devices");
}
