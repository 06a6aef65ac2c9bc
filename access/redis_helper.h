#pragma once

#include "access/access_helper.h"
#include "access/distinct_list.h"
#include "access/redis_connection.h"
#include "app/settings_records.h"

#include <QByteArray>
#include <QList>
#include <QSysInfo>
#include <functional>
#include <memory>

// The access store kept in Redis: ownership sets and modem properties in database 2 (written
// by other services), the downlink-index map in database 5, its database ids in UTF-8. Every
// call waits for its replies; the questions about a list go out pipelined, a bounded batch to a
// round trip. Failures leave as RedisClient::Connection::Exception.
class redis_helper : public access_helper
{
public:
    // execution_timeout_ms, cpu_architecture and batch_commands are there for tests; production
    // keeps the defaults. A batch bounds what one round trip holds.
    explicit redis_helper(const redis_settings& settings, int execution_timeout_ms = 60000,
        const QString& cpu_architecture = QSysInfo::currentCpuArchitecture(),
        int batch_commands = 4096);
    ~redis_helper() override;

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
    QList<int> dl_indexes_of(const QStringList& db_ids) override;
    packed_texts dl_db_ids_of(const std::vector<int>& indexes) override;

    // Every member of a set in database 2, in the order the server hands them out.
    QList<QByteArray> sscan_all(const QString& key);
    // Every key of database 2 matching a pattern.
    QList<QByteArray> scan_match(const QString& pattern);

private:
    void check_connection();
    QList<QByteArray> scan_loop(const QList<QByteArray>& head, const QList<QByteArray>& tail);
    bool is_member(const QString& key, const QString& member);
    QString first_not_owned(const QStringList& ids, const QString& key);
    QMap<QString, bool> owned_map(const QStringList& ids, const QString& key);
    QHash<QString, QSet<int>> ids_by_client(QStringList clients, const QString& prefix);
    QString hw_type_of(const QByteArray& device_id);
    // owned_devices for a list with repeated ids; `distinct` is left holding its distinct ids,
    // one flag each.
    std::vector<bool> owned_entries(const QStringList& devices, const QStringList& clients,
        distinct_list<QStringView>& distinct);
    // Reads `count` fields of a download-index hash (a missing one is empty): `field(i)` names
    // the i-th, `take(i, value)` is handed its value, in order.
    void read_dl_map(const QByteArray& hash, qint64 count,
        const std::function<QByteArray(qint64)>& field,
        const std::function<void(qint64, const QByteArray&)>& take);

    std::shared_ptr<RedisClient::Connection> connection;
    bool keeps_dl_map_;
    int batch_commands_;
};
