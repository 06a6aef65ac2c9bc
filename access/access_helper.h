#pragma once

#include <QHash>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

// Which modems and base stations an API key owns. "Not found" is a null string, a false
// entry or an empty set; only the Redis store raises (RedisClient::Connection::Exception).
class access_helper
{
public:
    virtual ~access_helper() = default;
    virtual void get_client_devices(QStringList clients, QStringList& out) = 0;
    virtual QString filter_client_devices(QStringList devices, QString client) = 0;
    virtual QString first_foreign_device(QStringList devices, QStringList clients) = 0;
    // The ids of `devices` that at least one of `clients` owns: the ownership of a whole list
    // at once, each distinct id asked once. No clients own nothing.
    virtual QSet<QString> owned_devices(QStringList devices, QStringList clients) = 0;
    virtual QString filter_client_stations(QStringList stations, QString client) = 0;
    virtual QMap<QString, bool> client_device_access(QStringList devices, QString client) = 0;
    virtual QMap<QString, bool> clients_device_access(QStringList devices, QStringList clients) = 0;
    virtual QMap<QString, bool> client_station_access(QStringList stations, QString client) = 0;
    virtual QHash<QString, QSet<int>> stations_by_client(QStringList clients) = 0;
    virtual QHash<QString, QSet<int>> devices_by_client(QStringList clients) = 0;
    virtual QHash<QString, QHash<QString, QSet<int>>> hw_type_devices_by_client(QStringList clients)
        = 0;
    virtual int register_dl_index(QString db_id) = 0;
    virtual int dl_index_of(QString db_id) = 0;
    virtual QString dl_db_id_of(int index) = 0;

    // The two look-ups above for a list, one result per entry in order. A store that asks a
    // server overrides them to ask once for all. Registrations have no list form: each one
    // stores, and is answered, before the next is asked.
    virtual QList<int> dl_indexes_of(const QStringList& db_ids)
    {
        QList<int> indexes;
        for (const QString& db_id : db_ids)
            indexes.append(dl_index_of(db_id));
        return indexes;
    }
    virtual QStringList dl_db_ids_of(const QList<int>& indexes)
    {
        QStringList db_ids;
        for (int index : indexes)
            db_ids.append(dl_db_id_of(index));
        return db_ids;
    }
};
