#include "access/redis_helper.h"

#include "ownership_contract.h"
#include "qt_print.h"
#include "scripted_redis.h"
#include "support/test_services.h"

#include <QVariant>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

using RedisClient::Connection;
using namespace ownership_contract;

namespace {

redis_settings on_port(int port, const QString& password = QString())
{
    redis_settings s;
    s.HOST = "127.0.0.1";
    s.PORT = static_cast<quint32>(port);
    s.AUTH = password;
    return s;
}

QList<QByteArray> texts(const QList<int>& ids)
{
    QList<QByteArray> out;
    for (int id : ids)
        out << QByteArray::number(id);
    return out;
}

QByteArray bulk(const QByteArray& text)
{
    return "$" + QByteArray::number(text.size()) + "\r\n" + text + "\r\n";
}

} // namespace

// Against the shared test Redis. The layout's keys are fixed, so each test empties the two
// databases the store uses, before and after.
class RedisStore : public ::testing::Test
{
protected:
    void SetUp() override
    {
        GORVEX_NEED_REDIS();
        seed = std::make_unique<Connection>(on_port(test_services::redis_port()), 10000);
        seed->command({ "FLUSHDB" }, 2);
        seed->command({ "FLUSHDB" }, 5);
        store = std::make_unique<redis_helper>(on_port(test_services::redis_port()), 10000);
    }
    void TearDown() override
    {
        if (seed) {
            seed->command({ "FLUSHDB" }, 2);
            seed->command({ "FLUSHDB" }, 5);
        }
    }
    void sadd(const QByteArray& key, const QList<QByteArray>& members)
    {
        if (!members.isEmpty())
            seed->command(QList<QByteArray> { "SADD", key } + members, 2);
    }
    void hset(const QByteArray& key, const QByteArray& field, const QByteArray& value)
    {
        seed->command({ "HSET", key, field, value }, 2);
    }

    std::unique_ptr<Connection> seed;
    std::unique_ptr<redis_helper> store;
};

TEST_F(RedisStore, AnswersTheOwnershipContract)
{
    for (const owner& o : ownership_contract::seed()) {
        sadd("client:devices:" + o.client.toLatin1(), texts(o.devices));
        sadd("client:devices:total", texts(o.devices));
        sadd("client:bs:" + o.client.toLatin1(), texts(o.stations));
        sadd("client:bs:total", texts(o.stations));
    }
    for (const contract_case& c : cases()) {
        SCOPED_TRACE(c.behaviour);
        EXPECT_EQ(run(*store, c), c.expected);
    }
}

TEST_F(RedisStore, ReadsALargeSetOverSeveralScanRounds)
{
    QList<QByteArray> members;
    for (int i = 1; i <= 250000; ++i)
        members << QByteArray::number(i);
    sadd("client:devices:big", members);
    seed->command({ "CONFIG", "RESETSTAT" }, 2);

    QStringList out;
    store->get_client_devices({ "big" }, out);
    EXPECT_EQ(QSet<QString>(out.begin(), out.end()).size(), 250000);
    EXPECT_EQ(out.size(), 250000);

    const QByteArray stats = seed->command({ "INFO", "commandstats" }, 2).str;
    const int at = stats.indexOf("cmdstat_sscan:calls=") + 20;
    EXPECT_GT(stats.mid(at, stats.indexOf(',', at) - at).toInt(), 1) << "read in one round";
    EXPECT_EQ(store->devices_by_client({ "big" }).value("total").size(), 250000);
}

TEST_F(RedisStore, PerClientQueriesAndTotal)
{
    sadd("client:devices:k", { "5", "x" });
    sadd("client:devices:a", { "1", "3" });
    sadd("client:devices:b", { "2", "4" });
    hset("dev:properties:1", "hw_type", "A");
    hset("dev:properties:2", "hw_type", "A");
    hset("dev:properties:3", "hw_type", "B");
    hset("dev:properties:4", "serial", "s4");
    const struct
    {
        const char* behaviour;
        std::function<QString()> run;
        QString expected;
    } rows[] = {
        { "a client without a set gets an empty entry, and so does total",
            [&] { return render(store->devices_by_client({ "nobody" })); },
            "{nobody:[];total:[]}" },
        { "a member that is not a number reads as 0",
            [&] { return render(store->devices_by_client({ "k" })); }, "{k:[0,5];total:[0,5]}" },
        { "no clients and no total set gives an empty hash",
            [&] { return render(store->devices_by_client({})); }, "{}" },
        { "clients sharing a type share one total set; no type is the empty type",
            [&] {
                return render(store->hw_type_devices_by_client({ "a", "b" }));
            },
            "{a:{A:[1];B:[3]};b:{:[4];A:[2]};total:{:[4];A:[1,2];B:[3]}}" },
        { "a client owning nothing has an empty entry",
            [&] { return render(store->hw_type_devices_by_client({ "nobody" })); },
            "{nobody:{};total:{}}" },
        { "no clients lists every modem's properties under total",
            [&] { return render(store->hw_type_devices_by_client({})); },
            "{total:{:[4];A:[1,2];B:[3]}}" },
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.behaviour);
        EXPECT_EQ(row.run(), row.expected);
    }
}

TEST_F(RedisStore, DownlinkIndexMap)
{
    const int first = store->register_dl_index("db-x");
    const int second = store->register_dl_index("db-x");
    EXPECT_EQ(second, first + 1);
    EXPECT_EQ(store->dl_index_of("db-x"), second);
    EXPECT_EQ(store->dl_db_id_of(first), "db-x");
    EXPECT_EQ(store->dl_db_id_of(second), "db-x");
    EXPECT_EQ(store->dl_index_of("never"), 0);
    EXPECT_EQ(store->dl_db_id_of(9999), "");
    // Ids beyond Latin-1 are kept as given and stay apart from their look-alikes.
    const int cyrillic = store->register_dl_index(QString::fromUtf8("жx1"));
    const int look_alike = store->register_dl_index("?x1");
    EXPECT_EQ(store->dl_db_id_of(cyrillic), QString::fromUtf8("жx1"));
    EXPECT_EQ(store->dl_indexes_of({ QString::fromUtf8("жx1"), "?x1" }),
        (QList<int> { cyrillic, look_alike }));

    redis_helper arm(on_port(test_services::redis_port()), 10000, "aarch64");
    seed->command({ "FLUSHDB" }, 5);
    EXPECT_EQ(arm.register_dl_index("77"), 77);
    EXPECT_EQ(arm.register_dl_index("abc"), 0);
    EXPECT_EQ(arm.dl_db_id_of(42), "42");
    EXPECT_EQ(seed->command({ "DBSIZE" }, 5).integer, 0) << "off x86_64 nothing is written";
}

// An error reply while storing the mapping must not hand out an index that maps to nothing.
TEST_F(RedisStore, ErrorRepliesWhileRegisteringRaise)
{
    for (const char* broken : { "tornel_dl:index", "tornel_dl:db_id" }) {
        SCOPED_TRACE(broken);
        seed->command({ "FLUSHDB" }, 5);
        seed->command({ "SET", broken, "not a hash" }, 5);
        EXPECT_THROW(store->register_dl_index("db-y"), Connection::Exception);
    }
}

// A key of the wrong type answers a read with an error reply: an ownership or property read
// takes it as a missing value, as the reply would be on a store filled by hand; a scan, which
// cannot go on, and a read of the download-index map, which would answer what was never
// stored, raise.
TEST_F(RedisStore, ErrorRepliesOfReadsAreMissingValues)
{
    seed->command({ "SET", "client:devices:str", "not a set" }, 2);
    sadd("client:devices:k", texts({ 7 }));
    seed->command({ "SET", "dev:properties:7", "not a hash" }, 2);
    seed->command({ "SET", "tornel_dl:db_id", "not a hash" }, 5);
    seed->command({ "SET", "tornel_dl:index", "not a hash" }, 5);
    struct row
    {
        const char* behaviour;
        std::function<QVariant()> run;
        QVariant expected;
    };
    const row rows[] = {
        { "SISMEMBER on a string: not owned",
            [&] { return QVariant(store->filter_client_devices({ "7" }, "str")); }, "7" },
        { "SISMEMBER on a string, then an owner",
            [&] {
                return QVariant(store->first_foreign_device({ "7" }, { "str", "k" }));
            },
            QString() },
        { "SISMEMBER on a string in a map",
            [&] { return QVariant(store->client_device_access({ "7" }, "str").value("7", true)); },
            false },
        { "HGET on a string: the empty type",
            [&] {
                return QVariant(
                    store->hw_type_devices_by_client({ "k" }).value("k").value("").contains(7));
            },
            true },
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.behaviour);
        EXPECT_EQ(r.run(), r.expected);
    }
    EXPECT_THROW(store->devices_by_client({ "str" }), Connection::Exception);
    EXPECT_THROW(store->register_dl_index("db"), Connection::Exception);
    EXPECT_THROW(store->dl_index_of("x"), Connection::Exception);
    EXPECT_THROW(store->dl_db_id_of(1), Connection::Exception);
}

TEST(RedisStoreDown, EveryOperationRaisesUntilRedisComesBack)
{
    const int port = unused_port();
    redis_helper store(on_port(port), 2000, "x86_64");
    const QStringList ids { "1" }, clients { "a" };
    const std::function<void()> operations[] = {
        [&] {
            QStringList out;
            store.get_client_devices(clients, out);
        },
        [&] { store.filter_client_devices(ids, "a"); },
        [&] { store.first_foreign_device(ids, clients); },
        [&] { store.filter_client_stations(ids, "a"); },
        [&] { store.client_device_access(ids, "a"); },
        [&] { store.clients_device_access(ids, clients); },
        [&] { store.client_station_access(ids, "a"); },
        [&] { store.stations_by_client(clients); },
        [&] { store.devices_by_client(clients); },
        [&] { store.hw_type_devices_by_client(clients); },
        [&] { store.register_dl_index("1"); },
        [&] { store.dl_index_of("1"); },
        [&] { store.dl_db_id_of(1); },
    };
    for (const auto& op : operations)
        EXPECT_THROW(op(), Connection::Exception);

    const auto answers = [](const QList<QByteArray>& cmd, int) -> QByteArray {
        return cmd.first() == "SELECT" ? "+OK\r\n" : ":1\r\n";
    };
    for (int round = 0; round < 2; ++round) {
        {
            scripted_redis up(answers, port);
            EXPECT_EQ(store.filter_client_devices(ids, "a"), QString()) << "round " << round;
        }
        EXPECT_THROW(store.filter_client_devices(ids, "a"), Connection::Exception);
    }
}

// A command that outlasts the time-out leaves the hiredis context unusable: the next one
// comes on a new connection that authenticates and selects its database again. An error
// reply raises but keeps the connection.
TEST(RedisStoreWire, TimeOutAndErrorReplies)
{
    scripted_redis server([](const QList<QByteArray>& cmd, int connection) -> QByteArray {
        if (cmd.first() == "AUTH" || cmd.first() == "SELECT")
            return "+OK\r\n";
        if (cmd.first() == "HINCRBY")
            return "-READONLY You can't write against a read only replica.\r\n";
        return connection == 1 ? QByteArray() : bulk(cmd.last());
    });
    redis_helper store(on_port(server.port(), "secret"), 200, "x86_64");
    EXPECT_THROW(store.dl_db_id_of(1), Connection::Exception);
    const QString odd = QString::fromLatin1("a\0b\r\n\xff", 6);
    EXPECT_EQ(store.dl_index_of(odd), 0);
    EXPECT_THROW(store.register_dl_index("9"), Connection::Exception);
    EXPECT_THROW(store.register_dl_index("9"), Connection::Exception);

    QList<QList<QByteArray>> second;
    for (const auto& entry : server.received()) {
        if (entry.first == 2)
            second << entry.second;
    }
    const QList<QList<QByteArray>> expected { { "AUTH", "secret" }, { "SELECT", "5" },
        { "HGET", "tornel_dl:db_id", odd.toUtf8() }, { "HINCRBY", "tornel_dl:index", "last", "1" },
        { "HINCRBY", "tornel_dl:index", "last", "1" } };
    EXPECT_EQ(second, expected);
}

// Cursors are opaque 64-bit values: they go back byte for byte. A reply of the wrong shape
// raises instead of returning part of a set.
TEST(RedisStoreWire, ScanCursorsGoBackExactly)
{
    scripted_redis server([](const QList<QByteArray>& cmd, int) -> QByteArray {
        if (cmd.first() == "SELECT")
            return "+OK\r\n";
        if (cmd.value(1) == "client:devices:odd")
            return ":5\r\n";
        if (cmd.value(2) == "0")
            return "*2\r\n" + bulk("18446744073709551615") + "*2\r\n" + bulk("1") + bulk("2");
        if (cmd.value(2) == "18446744073709551615"
            && cmd.mid(3) == QList<QByteArray> { "COUNT", "100000" })
            return "*2\r\n" + bulk("0") + "*1\r\n" + bulk("3");
        return "-ERR unexpected\r\n";
    });
    redis_helper store(on_port(server.port()), 2000);
    QStringList out;
    store.get_client_devices({ "k" }, out);
    EXPECT_EQ(out, (QStringList { "1", "2", "3" }));
    EXPECT_THROW(store.sscan_all("client:devices:odd"), Connection::Exception);
}

// A list goes out in one round trip, each distinct entry once: the script answers only when the
// last command of the batch has come, which a client waiting after each command never sends.
TEST(RedisStoreWire, ListsAreAskedOnceInOneRoundTrip)
{
    scripted_redis server([](const QList<QByteArray>& cmd, int) -> QByteArray {
        if (cmd.first() == "SELECT")
            return "+OK\r\n";
        const QByteArray field = cmd.value(2);
        if (cmd.first() == "SISMEMBER" && field == "9")
            return ":1\r\n-WRONGTYPE not a set\r\n:0\r\n";
        if (cmd.first() == "HGET" && field == "4")
            return bulk(QString::fromUtf8("жx1").toUtf8()) + "$-1\r\n";
        if (cmd.first() == "HGET" && field == "d")
            return bulk("5") + "+OK\r\n";
        return QByteArray();
    });
    redis_helper store(on_port(server.port()), 1000, "x86_64");
    EXPECT_EQ(render(store.clients_device_access({ "7", "8", "7", "9" }, { "a" })), "7=1,8=0,9=0");
    const packed_texts db_ids = store.dl_db_ids_of({ 3, 4 });
    ASSERT_EQ(db_ids.size(), 2);
    EXPECT_EQ(db_ids.text(0), QString::fromUtf8("жx1"));
    EXPECT_TRUE(db_ids.is_empty(1));
    EXPECT_THROW(store.dl_indexes_of({ "c", "d" }), Connection::Exception) << "a status reply";
    QList<QByteArray> batch;
    for (const auto& entry : server.received()) {
        if (entry.second.first() != "SELECT")
            batch << entry.second.join(' ');
    }
    const QList<QByteArray> expected { "SISMEMBER client:devices:a 7",
        "SISMEMBER client:devices:a 8", "SISMEMBER client:devices:a 9", "HGET tornel_dl:index 3",
        "HGET tornel_dl:index 4", "HGET tornel_dl:db_id c", "HGET tornel_dl:db_id d" };
    EXPECT_EQ(batch, expected);
}

// A list longer than a batch goes out a batch to a round trip, in the commands and the order
// one pipeline sends, with the same answers; a bad reply in an early batch raises only once
// every batch has been asked.
TEST(RedisStoreWire, LongListsGoOutInBoundedBatches)
{
    const auto script = [](const QList<QByteArray>& cmd, int) -> QByteArray {
        if (cmd.first() == "SELECT")
            return "+OK\r\n";
        if (cmd.first() == "SISMEMBER")
            return cmd.value(1).endsWith(":b") && cmd.value(2) != "C0" ? ":1\r\n" : ":0\r\n";
        if (cmd.value(2) == "2")
            return "+OK\r\n";
        return cmd.value(2) == "3" ? "$-1\r\n" : bulk("db-" + cmd.value(2));
    };
    const std::vector<QStringView> ids { u"An", u"BO", u"C0", u"7", u"9" };
    QList<QList<QByteArray>> sequences;
    for (int batch : { 4096, 2 }) {
        SCOPED_TRACE(batch);
        scripted_redis server(script);
        redis_helper store(on_port(server.port()), 1000, "x86_64", batch);
        EXPECT_EQ(store.owned_devices(ids, { "a", "b" }), std::vector<bool>({ 1, 1, 0, 1, 1 }));
        const packed_texts db_ids = store.dl_db_ids_of({ 1, 3, 4 });
        ASSERT_EQ(db_ids.size(), 3);
        EXPECT_EQ(db_ids.text(0) + "," + db_ids.text(1) + "," + db_ids.text(2), "db-1,,db-4");
        EXPECT_THROW(store.dl_db_ids_of({ 1, 2, 3, 4, 5 }), Connection::Exception);
        QList<QByteArray> sequence;
        for (const auto& entry : server.received()) {
            if (entry.second.first() != "SELECT")
                sequence << entry.second.join(' ');
        }
        sequences << sequence;
    }
    EXPECT_EQ(sequences[1], sequences[0]);
    EXPECT_EQ(sequences[0].size(), 10 + 3 + 5);

    // Answered only once all ten questions have come, a client that waits after two gets
    // nothing.
    QList<QByteArray> pending;
    scripted_redis holding([&pending](const QList<QByteArray>& cmd, int) -> QByteArray {
        if (cmd.first() == "SELECT")
            return "+OK\r\n";
        pending << ":1\r\n";
        return pending.size() == 10 ? pending.join() : QByteArray();
    });
    redis_helper batched(on_port(holding.port()), 300, "x86_64", 2);
    EXPECT_THROW(batched.owned_devices(ids, { "a", "b" }), Connection::Exception);
}
