#pragma once

#include "access/access_helper.h"
#include "access/clients_devices_command.h"
#include "app/logger.h"
#include "app/rabbit_api_config.h"

#include <QTimer>
#include <memory>

class rabbit_api_man;

// The access store kept in memory, fed by the user-database service over its own AMQP link.
// Pushes land in staging tables; queries see them only after a quiet period, so a burst of
// pushes is switched over at once. Ownership is only ever added until the process restarts.
class ram_helper : public access_helper
{
public:
    ram_helper(rabbit_api_config config, logger& log);
    ~ram_helper() override;
    ram_helper(const ram_helper&) = delete;
    ram_helper& operator=(const ram_helper&) = delete;

    void get_client_devices(QStringList clients, QStringList& out) override;
    QString filter_client_devices(QStringList devices, QString client) override;
    QString first_foreign_device(QStringList devices, QStringList clients) override;
    std::vector<bool> owned_devices(
        const std::vector<QStringView>& devices, const QStringList& clients) override;
    QString filter_client_stations(QStringList stations, QString client) override;
    QMap<QString, bool> client_device_access(QStringList devices, QString client) override;
    QMap<QString, bool> clients_device_access(QStringList devices, QStringList clients) override;
    QMap<QString, bool> client_station_access(QStringList stations, QString client) override;
    QHash<QString, QSet<int>> stations_by_client(QStringList clients) override;
    QHash<QString, QSet<int>> devices_by_client(QStringList clients) override;
    QHash<QString, QHash<QString, QSet<int>>> hw_type_devices_by_client(
        QStringList clients) override;
    int register_dl_index(QString db_id) override;
    int dl_index_of(QString db_id) override;
    QString dl_db_id_of(int index) override;

    // The user-database link's command factory: a new handler for a known type, otherwise
    // std::runtime_error "<type> does not exist".
    std::shared_ptr<ICommandHandler> make_command(const QString& type);
    // Makes the staged pushes the tables that queries read.
    void commit_staging();

    // Test seam: production keeps 30,000 ms of quiet before a commit.
    static void set_commit_delay_ms(int ms);
    static int commit_delay_ms();

private:
    bool owned_by_any(const QString& id, const QStringList& clients);
    std::shared_ptr<rabbit_api_man> user_db_link;
    std::shared_ptr<QTimer> commit_timer;
    ownership_table client_devices;
    ownership_table client_stations;
    ownership_table staging_devices;
    ownership_table staging_stations;
};
