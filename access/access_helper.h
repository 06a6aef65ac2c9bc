#pragma once

#include "access/packed_texts.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <vector>

// Which modems and base stations an API key owns. "Not found" is a null string, a false
// entry or an empty set; only the Redis store raises (RedisClient::Connection::Exception).
class access_helper
{
public:
    virtual ~access_helper() = default;
    virtual void get_client_devices(QStringList clients, QStringList& out) = 0;
    virtual QString filter_client_devices(QStringList devices, QString client) = 0;
    virtual QString first_foreign_device(QStringList devices, QStringList clients) = 0;
    // Whether at least one of `clients` owns each of `devices`, a flag per id in order: the
    // ownership of a whole list at once. The ids are distinct, and asked in the order given; no
    // clients own nothing.
    virtual std::vector<bool> owned_devices(
        const std::vector<QStringView>& devices, const QStringList& clients)
        = 0;
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

    // The two look-ups above for a list, one result per entry in order (the indexes are
    // distinct, and asked in the order given). A store that asks a server overrides them to ask
    // for all at once. Registrations have no list form: each one stores, and is answered, before
    // the next is asked.
    virtual QList<int> dl_indexes_of(const QStringList& db_ids)
    {
        QList<int> indexes;
        for (const QString& db_id : db_ids)
            indexes.append(dl_index_of(db_id));
        return indexes;
    }
    virtual packed_texts dl_db_ids_of(const std::vector<int>& indexes)
    {
        packed_texts db_ids;
        db_ids.reserve(indexes.size());
        for (int index : indexes)
            db_ids.append(dl_db_id_of(index));
        return db_ids;
    }
};
