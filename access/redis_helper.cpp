#include "access/redis_helper.h"

#include "access/dl_index_identity.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace {

const int ownership_db = 2;
const int dl_map_db = 5;

const QString devices_prefix = QStringLiteral("client:devices:");
const QString stations_prefix = QStringLiteral("client:bs:");
const QByteArray properties_prefix = QByteArrayLiteral("dev:properties:");
const QString total_client = QStringLiteral("total");
const QByteArray dl_index_key = QByteArrayLiteral("tornel_dl:index");
const QByteArray dl_db_id_key = QByteArrayLiteral("tornel_dl:db_id");
const QByteArray scan_count = QByteArrayLiteral("100000");
const QByteArray sismember = QByteArrayLiteral("SISMEMBER");
const QByteArray hget = QByteArrayLiteral("HGET");

QByteArray latin1(const QString& text)
{
    return text.toLatin1();
}

int decimal(const QByteArray& text)
{
    return text.toInt(nullptr, 10);
}

// The text of a bulk reply; a missing field (nil) reads as an empty string.
QString text_of(const RedisClient::Reply& reply)
{
    return reply.type == RedisClient::Reply::String ? QString::fromLatin1(reply.str) : QString("");
}

// Any reply but a non-zero integer, an error reply included, reads as not a member.
bool member_reply(const RedisClient::Reply& reply)
{
    return reply.type == RedisClient::Reply::Integer && reply.integer != 0;
}

// Error replies are answers like any other for the reads; where one means that nothing was
// stored, or that a scan cannot go on, it is raised.
RedisClient::Reply no_error(RedisClient::Reply reply, const QByteArray& command)
{
    if (reply.type == RedisClient::Reply::Error)
        throw RedisClient::Connection::Exception(
            command.toStdString() + ": " + reply.str.toStdString());
    return reply;
}

// A field of the download-index map; a missing one reads as empty. Any other reply, an error
// or a status, raises: the caller would answer an index or id that was never stored.
QByteArray dl_map_value(const RedisClient::Reply& reply)
{
    no_error(reply, "HGET");
    if (reply.type == RedisClient::Reply::Nil)
        return QByteArray();
    if (reply.type != RedisClient::Reply::String)
        throw RedisClient::Connection::Exception("HGET: unexpected reply shape");
    return reply.str;
}

} // namespace

redis_helper::redis_helper(const redis_settings& settings, int execution_timeout_ms,
    const QString& cpu_architecture, int batch_commands)
    : connection(std::make_shared<RedisClient::Connection>(settings, execution_timeout_ms))
    , keeps_dl_map_(cpu_architecture == QLatin1String("x86_64"))
    , batch_commands_(batch_commands)
{ }

redis_helper::~redis_helper() = default;

void redis_helper::check_connection()
{
    if (!connection->isConnected())
        connection->connect();
}

QList<QByteArray> redis_helper::scan_loop(
    const QList<QByteArray>& head, const QList<QByteArray>& tail)
{
    QList<QByteArray> result;
    // The cursor is opaque to the client: it goes back exactly as the server wrote it.
    QByteArray cursor("0");
    do {
        const RedisClient::Reply reply = no_error(
            connection->command(head + QList<QByteArray> { cursor } + tail, ownership_db),
            head.first());
        if (reply.type != RedisClient::Reply::Array || reply.elements.size() != 2
            || reply.elements[0].type != RedisClient::Reply::String
            || reply.elements[1].type != RedisClient::Reply::Array)
            throw RedisClient::Connection::Exception(
                head.first().toStdString() + ": unexpected reply shape");
        cursor = reply.elements[0].str;
        for (const RedisClient::Reply& member : reply.elements[1].elements)
            result.append(member.str);
    } while (cursor != "0");
    return result;
}

QList<QByteArray> redis_helper::sscan_all(const QString& key)
{
    return scan_loop({ "SSCAN", latin1(key) }, { "COUNT", scan_count });
}

QList<QByteArray> redis_helper::scan_match(const QString& pattern)
{
    return scan_loop({ "SCAN" }, { "MATCH", latin1(pattern), "COUNT", scan_count });
}

bool redis_helper::is_member(const QString& key, const QString& member)
{
    return member_reply(
        connection->command({ "SISMEMBER", latin1(key), latin1(member) }, ownership_db));
}

QString redis_helper::first_not_owned(const QStringList& ids, const QString& key)
{
    check_connection();
    for (const QString& id : ids) {
        if (!is_member(key, id))
            return id;
    }
    return QString();
}

QMap<QString, bool> redis_helper::owned_map(const QStringList& ids, const QString& key)
{
    check_connection();
    QMap<QString, bool> result;
    for (const QString& id : ids)
        result.insert(id, is_member(key, id));
    return result;
}

void redis_helper::get_client_devices(QStringList clients, QStringList& out)
{
    for (const QString& client : clients) {
        for (const QByteArray& member : sscan_all(devices_prefix + client))
            out.append(QString::fromLatin1(member));
    }
}

QString redis_helper::filter_client_devices(QStringList devices, QString client)
{
    return first_not_owned(devices, devices_prefix + client);
}

std::vector<bool> redis_helper::owned_devices(
    const std::vector<QStringView>& devices, const QStringList& clients)
{
    check_connection();
    std::vector<bool> owned(devices.size(), false);
    if (clients.isEmpty())
        return owned;
    QList<QByteArray> keys;
    for (const QString& client : clients)
        keys.append(latin1(devices_prefix + client));
    // Every client's set for the first id, then for the next.
    const qint64 per_id = keys.size();
    QByteArray member; // of the id whose commands are being made, asked in order
    connection->pipeline(
        qint64(devices.size()) * per_id, ownership_db, batch_commands_,
        [&](qint64 i) {
            if (i % per_id == 0)
                member = devices[std::size_t(i / per_id)].toLatin1();
            return QList<QByteArray> { sismember, keys[int(i % per_id)], member };
        },
        [&](qint64 i, const RedisClient::Reply& reply) {
            if (member_reply(reply))
                owned[std::size_t(i / per_id)] = true;
        });
    return owned;
}

std::vector<bool> redis_helper::owned_entries(
    const QStringList& devices, const QStringList& clients, distinct_list<QStringView>& distinct)
{
    for (const QString& id : devices)
        distinct.add(id);
    return owned_devices(distinct.values(), clients);
}

QString redis_helper::first_foreign_device(QStringList devices, QStringList clients)
{
    distinct_list<QStringView> distinct(std::size_t(devices.size()));
    const std::vector<bool> owned = owned_entries(devices, clients, distinct);
    const auto foreign = std::find(owned.begin(), owned.end(), false);
    return foreign == owned.end() ? QString() : distinct[int(foreign - owned.begin())].toString();
}

QString redis_helper::filter_client_stations(QStringList stations, QString client)
{
    return first_not_owned(stations, stations_prefix + client);
}

QMap<QString, bool> redis_helper::client_device_access(QStringList devices, QString client)
{
    return owned_map(devices, devices_prefix + client);
}

QMap<QString, bool> redis_helper::clients_device_access(QStringList devices, QStringList clients)
{
    distinct_list<QStringView> distinct(std::size_t(devices.size()));
    const std::vector<bool> owned = owned_entries(devices, clients, distinct);
    QMap<QString, bool> result;
    for (int i = 0; i < distinct.size(); ++i)
        result.insert(distinct[i].toString(), owned[std::size_t(i)]);
    return result;
}

QMap<QString, bool> redis_helper::client_station_access(QStringList stations, QString client)
{
    return owned_map(stations, stations_prefix + client);
}

QHash<QString, QSet<int>> redis_helper::ids_by_client(QStringList clients, const QString& prefix)
{
    check_connection();
    if (clients.isEmpty())
        clients.append(total_client);
    QHash<QString, QSet<int>> result;
    for (const QString& client : clients) {
        QSet<int> ids;
        for (const QByteArray& member : sscan_all(prefix + client))
            ids.insert(decimal(member));
        if (client == total_client) {
            // The stored union: reported only when it holds something.
            if (!ids.isEmpty())
                result[total_client] += ids;
            continue;
        }
        result[client] += ids;
        result[total_client] += ids;
    }
    return result;
}

QHash<QString, QSet<int>> redis_helper::stations_by_client(QStringList clients)
{
    return ids_by_client(clients, stations_prefix);
}

QHash<QString, QSet<int>> redis_helper::devices_by_client(QStringList clients)
{
    return ids_by_client(clients, devices_prefix);
}

QString redis_helper::hw_type_of(const QByteArray& properties_key)
{
    return text_of(connection->command({ "HGET", properties_key, "hw_type" }, ownership_db));
}

QHash<QString, QHash<QString, QSet<int>>> redis_helper::hw_type_devices_by_client(
    QStringList clients)
{
    check_connection();
    QHash<QString, QHash<QString, QSet<int>>> result;
    if (clients.isEmpty()) {
        const QString pattern = QString::fromLatin1(properties_prefix) + "*";
        for (const QByteArray& key : scan_match(pattern)) {
            const int id = decimal(key.mid(properties_prefix.size()));
            result[total_client][hw_type_of(key)].insert(id);
        }
        return result;
    }
    for (const QString& client : clients) {
        QHash<QString, QSet<int>> by_type;
        for (const QByteArray& member : sscan_all(devices_prefix + client))
            by_type[hw_type_of(properties_prefix + member)].insert(decimal(member));
        QHash<QString, QSet<int>>& own = result[client];
        for (auto it = by_type.cbegin(); it != by_type.cend(); ++it)
            own[it.key()] += it.value();
        QHash<QString, QSet<int>>& total = result[total_client];
        for (auto it = by_type.cbegin(); it != by_type.cend(); ++it)
            total[it.key()] += it.value();
    }
    return result;
}

int redis_helper::register_dl_index(QString db_id)
{
    if (!keeps_dl_map_)
        return dl_index_from_db_id(db_id);
    check_connection();
    // One command after another, each waiting for its reply: the first error ends the
    // registration before anything further is stored, and raises before the index is handed
    // out, so a caller never gets an index whose mapping was not stored.
    const RedisClient::Reply counter = no_error(
        connection->command({ "HINCRBY", dl_index_key, "last", "1" }, dl_map_db), "HINCRBY");
    if (counter.type != RedisClient::Reply::Integer)
        throw RedisClient::Connection::Exception("HINCRBY: unexpected reply shape");
    if (counter.integer < std::numeric_limits<int>::min()
        || counter.integer > std::numeric_limits<int>::max())
        throw RedisClient::Connection::Exception("HINCRBY: downlink index out of range");
    const int index = static_cast<int>(counter.integer);
    const QByteArray index_text = QByteArray::number(index);
    const QByteArray id = db_id.toUtf8();
    no_error(connection->command({ "HSET", dl_db_id_key, id, index_text }, dl_map_db), "HSET");
    no_error(connection->command({ "HSET", dl_index_key, index_text, id }, dl_map_db), "HSET");
    return index;
}

void redis_helper::read_dl_map(const QByteArray& hash, qint64 count,
    const std::function<QByteArray(qint64)>& field,
    const std::function<void(qint64, const QByteArray&)>& take)
{
    if (count == 0)
        return;
    check_connection();
    // Every read is sent, as one pipeline would send them, before the first bad reply raises.
    std::optional<RedisClient::Reply> bad;
    connection->pipeline(
        count, dl_map_db, batch_commands_,
        [&](qint64 i) {
            return QList<QByteArray> { hget, hash, field(i) };
        },
        [&](qint64 i, const RedisClient::Reply& reply) {
            if (bad)
                return;
            if (reply.type == RedisClient::Reply::Nil || reply.type == RedisClient::Reply::String)
                take(i, reply.str);
            else
                bad = reply;
        });
    if (bad)
        dl_map_value(*bad);
}

int redis_helper::dl_index_of(QString db_id)
{
    return keeps_dl_map_ ? dl_indexes_of({ db_id }).first() : dl_index_from_db_id(db_id);
}

QList<int> redis_helper::dl_indexes_of(const QStringList& db_ids)
{
    if (!keeps_dl_map_)
        return access_helper::dl_indexes_of(db_ids);
    distinct_list<QByteArray> fields(std::size_t(db_ids.size()));
    std::vector<int> positions;
    positions.reserve(std::size_t(db_ids.size()));
    for (const QString& db_id : db_ids)
        positions.push_back(fields.add(db_id.toUtf8()));
    std::vector<int> values(std::size_t(fields.size()), 0);
    read_dl_map(
        dl_db_id_key, fields.size(), [&](qint64 i) { return fields[int(i)]; },
        [&](qint64 i, const QByteArray& value) { values[std::size_t(i)] = decimal(value); });
    QList<int> indexes;
    indexes.reserve(db_ids.size());
    for (int position : positions)
        indexes.append(values[std::size_t(position)]);
    return indexes;
}

QString redis_helper::dl_db_id_of(int index)
{
    return keeps_dl_map_ ? dl_db_ids_of({ index }).text(0) : db_id_from_dl_index(index);
}

packed_texts redis_helper::dl_db_ids_of(const std::vector<int>& indexes)
{
    if (!keeps_dl_map_)
        return access_helper::dl_db_ids_of(indexes);
    packed_texts db_ids;
    db_ids.reserve(indexes.size());
    read_dl_map(
        dl_index_key, qint64(indexes.size()),
        [&](qint64 i) { return QByteArray::number(indexes[std::size_t(i)]); },
        [&](qint64, const QByteArray& value) { db_ids.append(value); });
    return db_ids;
}
