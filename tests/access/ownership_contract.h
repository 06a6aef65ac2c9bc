#pragma once

#include "access/access_helper.h"
#include "access/distinct_list.h"

#include <QStringList>
#include <algorithm>

// What both access stores must answer for the same ownership, seeded by each store's tests
// in its own way: a owns modems 1,2,3 and stations 10,11; b owns modems 3,4; "total" holds
// the union, as the feed builds it and as Redis keeps it.
namespace ownership_contract {

struct owner
{
    QString client;
    QList<int> devices;
    QList<int> stations;
};

inline QList<owner> seed()
{
    return { { "a", { 1, 2, 3 }, { 10, 11 } }, { "b", { 3, 4 }, {} } };
}

inline QString render(const QString& s)
{
    return s.isNull() ? QString("<null>") : s;
}

inline QString render(const QMap<QString, bool>& m)
{
    QStringList parts;
    for (auto it = m.cbegin(); it != m.cend(); ++it)
        parts << it.key() + "=" + (it.value() ? "1" : "0");
    return parts.join(",");
}

inline QString render(const QSet<int>& s)
{
    QList<int> ids = s.values();
    std::sort(ids.begin(), ids.end());
    QStringList parts;
    for (int id : ids)
        parts << QString::number(id);
    return "[" + parts.join(",") + "]";
}

template <typename Inner>
QString render(const QHash<QString, Inner>& h)
{
    QStringList parts;
    for (auto it = h.cbegin(); it != h.cend(); ++it)
        parts << it.key() + ":" + render(it.value());
    parts.sort();
    return "{" + parts.join(";") + "}";
}

enum op {
    owned,
    filter,
    first_foreign,
    filter_stations,
    access,
    clients_access,
    station_access,
    device_list,
    devices_by,
    stations_by
};

struct contract_case
{
    const char* behaviour;
    op operation;
    QStringList ids;
    QStringList clients; // the one client for single-client operations
    QString expected;
};

inline QString run(access_helper& s, const contract_case& c)
{
    const QString one = c.clients.value(0);
    switch (c.operation) {
    case owned: {
        distinct_list<QStringView> ids;
        for (const QString& id : c.ids)
            ids.add(id);
        const std::vector<bool> flags = s.owned_devices(ids.values(), c.clients);
        if (flags.size() != ids.values().size())
            return "one flag per id";
        QStringList owned;
        for (int i = 0; i < ids.size(); ++i) {
            if (flags[std::size_t(i)])
                owned << ids[i].toString();
        }
        owned.sort();
        return owned.join(",");
    }
    case filter:
        return render(s.filter_client_devices(c.ids, one));
    case first_foreign:
        return render(s.first_foreign_device(c.ids, c.clients));
    case filter_stations:
        return render(s.filter_client_stations(c.ids, one));
    case access:
        return render(s.client_device_access(c.ids, one));
    case clients_access:
        return render(s.clients_device_access(c.ids, c.clients));
    case station_access:
        return render(s.client_station_access(c.ids, one));
    case devices_by:
        return render(s.devices_by_client(c.clients));
    case stations_by:
        return render(s.stations_by_client(c.clients));
    case device_list: {
        QStringList out { "x" };
        s.get_client_devices(c.clients, out);
        out.sort();
        return out.join(",");
    }
    }
    return QString();
}

// clang-format off
inline QList<contract_case> cases()
{
    return {
        { "filter: first id the client does not own", filter, { "1", "2", "5", "6" }, { "a" }, "5" },
        { "filter: null when all are owned", filter, { "1", "2" }, { "a" }, "<null>" },
        { "filter: null for no ids", filter, {}, { "a" }, "<null>" },
        { "filter: an unknown client owns nothing", filter, { "1" }, { "zz" }, "1" },
        { "first foreign: first id no client owns", first_foreign, { "1", "4", "7" }, { "a", "b" }, "7" },
        { "first foreign: null when each has an owner", first_foreign, { "1", "4" }, { "a", "b" }, "<null>" },
        { "first foreign: no clients gives the first id", first_foreign, { "9", "1" }, {}, "9" },
        { "first foreign: no ids gives null", first_foreign, {}, { "a" }, "<null>" },
        { "owned: any listed owner, a repeated id once", owned, { "1", "4", "9", "1" }, { "a", "b" }, "1,4" },
        { "owned: no clients own nothing", owned, { "1" }, {}, "" },
        { "station filter reads station sets", filter_stations, { "10", "12" }, { "a" }, "12" },
        { "access: one entry per distinct id", access, { "1", "4", "1" }, { "a" }, "1=1,4=0" },
        { "access: no ids, empty map", access, {}, { "a" }, "" },
        { "clients access: any listed owner", clients_access, { "1", "4", "9" }, { "a", "b" }, "1=1,4=1,9=0" },
        { "clients access: no clients, all false", clients_access, { "1", "3" }, {}, "1=0,3=0" },
        { "station access", station_access, { "10", "3" }, { "a" }, "10=1,3=0" },
        { "device list appends, keeps duplicates, does not clear", device_list, {}, { "a", "b" }, "1,2,3,3,4,x" },
        { "by client: listed clients also fill total", devices_by, {}, { "a", "b" }, "{a:[1,2,3];b:[3,4];total:[1,2,3,4]}" },
        { "by client: no clients reads total", devices_by, {}, {}, "{total:[1,2,3,4]}" },
        { "stations by client", stations_by, {}, { "a" }, "{a:[10,11];total:[10,11]}" },
    };
}
// clang-format on

} // namespace ownership_contract
