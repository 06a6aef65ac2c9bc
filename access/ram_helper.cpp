#include "access/ram_helper.h"

#include "access/dl_index_identity.h"
#include "amqp/rabbit_api_man.h"

#include <stdexcept>

namespace {

const QString total_client = QStringLiteral("total");
int commit_delay = 30000;

// Lookups go through operator[] on purpose: asking about an unknown client leaves an empty
// entry behind, which answers the same as no entry.
QString first_not_in(const QStringList& ids, const QSet<keyed_text>& owned)
{
    for (const QString& id : ids) {
        if (!owned.contains(id))
            return id;
    }
    return QString();
}

QMap<QString, bool> membership(const QStringList& ids, const QSet<keyed_text>& owned)
{
    QMap<QString, bool> result;
    for (const QString& id : ids)
        result.insert(id, owned.contains(id));
    return result;
}

QHash<QString, QSet<int>> ids_by_client(QStringList clients, const ownership_table& table)
{
    if (clients.isEmpty())
        clients.append(total_client);
    QHash<QString, QSet<int>> result;
    for (const QString& client : clients) {
        const auto found = table.constFind(client);
        if (found == table.constEnd())
            continue;
        QSet<int> ids;
        for (const QString& id : found.value())
            ids.insert(id.toInt(nullptr, 10));
        result[client] += ids;
        if (client != total_client)
            result[total_client] += ids;
    }
    return result;
}

} // namespace

void ram_helper::set_commit_delay_ms(int ms)
{
    commit_delay = ms;
}
int ram_helper::commit_delay_ms()
{
    return commit_delay;
}

ram_helper::ram_helper(rabbit_api_config config, logger& log)
    : commit_timer(std::make_shared<QTimer>())
{
    commit_timer->setSingleShot(true);
    commit_timer->setInterval(commit_delay);
    QObject::connect(
        commit_timer.get(), &QTimer::timeout, commit_timer.get(), [this] { commit_staging(); },
        Qt::DirectConnection);
    user_db_link = std::make_shared<rabbit_api_man>(
        log, std::move(config), [this](const QString& type) { return make_command(type); },
        nullptr);
}

ram_helper::~ram_helper()
{
    // The link goes first so no push arrives while the tables go away; a command still
    // holding the timer must not reach this object after it is gone.
    user_db_link.reset();
    commit_timer->stop();
    commit_timer->disconnect();
}

std::shared_ptr<ICommandHandler> ram_helper::make_command(const QString& type)
{
    auto command = std::make_shared<ClientsDevicesCommand>(
        &staging_devices, &staging_stations, commit_timer);
    if (command->name() == type)
        return command;
    throw std::runtime_error((type + " does not exist").toUtf8().toStdString());
}

void ram_helper::commit_staging()
{
    for (auto it = staging_devices.cbegin(); it != staging_devices.cend(); ++it)
        client_devices.insert(it.key(), it.value());
    for (auto it = staging_stations.cbegin(); it != staging_stations.cend(); ++it)
        client_stations.insert(it.key(), it.value());
}

void ram_helper::get_client_devices(QStringList clients, QStringList& out)
{
    for (const QString& client : clients) {
        for (const QString& id : client_devices[client])
            out.append(id);
    }
}

QString ram_helper::filter_client_devices(QStringList devices, QString client)
{
    return first_not_in(devices, client_devices[client]);
}

bool ram_helper::owned_by_any(const QString& id, const QStringList& clients)
{
    // Looking a client up adds its empty entry, as every query of this store does.
    for (const QString& client : clients)
        if (client_devices[client].contains(id))
            return true;
    return false;
}

QString ram_helper::first_foreign_device(QStringList devices, QStringList clients)
{
    for (const QString& id : devices) {
        if (!owned_by_any(id, clients))
            return id;
    }
    return QString();
}

std::vector<bool> ram_helper::owned_devices(
    const std::vector<QStringView>& devices, const QStringList& clients)
{
    std::vector<bool> owned;
    owned.reserve(devices.size());
    for (QStringView id : devices)
        owned.push_back(owned_by_any(id.toString(), clients));
    return owned;
}

QString ram_helper::filter_client_stations(QStringList stations, QString client)
{
    return first_not_in(stations, client_stations[client]);
}

QMap<QString, bool> ram_helper::client_device_access(QStringList devices, QString client)
{
    return membership(devices, client_devices[client]);
}

QMap<QString, bool> ram_helper::clients_device_access(QStringList devices, QStringList clients)
{
    QMap<QString, bool> result;
    for (const QString& id : devices)
        result.insert(id, owned_by_any(id, clients));
    return result;
}

QMap<QString, bool> ram_helper::client_station_access(QStringList stations, QString client)
{
    return membership(stations, client_stations[client]);
}

QHash<QString, QSet<int>> ram_helper::stations_by_client(QStringList clients)
{
    return ids_by_client(clients, client_stations);
}

QHash<QString, QSet<int>> ram_helper::devices_by_client(QStringList clients)
{
    return ids_by_client(clients, client_devices);
}

QHash<QString, QHash<QString, QSet<int>>> ram_helper::hw_type_devices_by_client(QStringList)
{
    // The feed carries no hardware types.
    return {};
}

int ram_helper::register_dl_index(QString db_id)
{
    return dl_index_from_db_id(db_id);
}

int ram_helper::dl_index_of(QString db_id)
{
    return dl_index_from_db_id(db_id);
}

QString ram_helper::dl_db_id_of(int index)
{
    return db_id_from_dl_index(index);
}
