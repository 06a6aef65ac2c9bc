#include "routes/road_fixture.h"
#include "routes/server_set.h"
#include "routes/test_token.h"

#include "router/qt_print.h"

#include <QJsonArray>
#include <algorithm>
#include <cmath>

// Lists of modem ids and download indexes named by a restricted caller, through the in-process
// road: what the store is asked, what is refused, and what is sent or answered.

namespace {

// A store that owns a fixed set of modems and knows fixed download indexes, and keeps every
// question.
class listed_store : public null_access
{
public:
    std::vector<bool> owned_devices(
        const std::vector<QStringView>& devices, const QStringList&) override
    {
        questions.push_back(devices.size());
        std::vector<bool> flags;
        for (QStringView id : devices) {
            asked << id.toString();
            flags.push_back(owned.contains(id.toString()));
        }
        return flags;
    }
    packed_texts dl_db_ids_of(const std::vector<int>& indexes) override
    {
        packed_texts found;
        for (int index : indexes) {
            asked << QString::number(index);
            found.append(db_ids.value(index));
        }
        return found;
    }

    QSet<QString> owned { "5", "6", "0", "An", "02" };
    QMap<int, QString> db_ids { { 7, "db-7" }, { 8, "db-8" } };
    QStringList asked;
    std::vector<std::size_t> questions; // the ids of each ownership question
};

class modem_id_lists_test : public road_fixture
{
protected:
    void SetUp() override
    {
        restrict_callers_to_their_keys();
        start<server_set>(&store);
    }

    listed_store store;
};

TEST_F(modem_id_lists_test, each_distinct_id_is_asked_once_and_the_first_unknown_is_named)
{
    struct row
    {
        const char* behaviour;
        QByteArray method, target, body;
        QString asked; // the store's questions, in order
        const char* answer; // the answer, or the command's data when one is sent
    };
    const row rows[] = {
        { "check_ids: ids sharing Qt's hash once each, the empty one too", "GET",
            "/api/check_ids?modem_id=C0,An,BO,An,,5,BO", {}, "C0,An,BO,,5",
            R"({"":false,"5":true,"An":true,"BO":false,"C0":false})" },
        { "check_ids: a list that starts with an empty part", "GET", "/api/check_ids?modem_id=,5,5",
            {}, ",5", R"({"":false,"5":true})" },
        { "a refusal names the first foreign id in the list, not in the store's order", "GET",
            "/api/roll?modem_id=5,,BO,An,C0,BO", {}, "5,BO,An,C0",
            R"({"What":"Unavailable modem for provided token. Modem ID BO"})" },
        { "the modem_id array is every part in order, repeats included", "GET",
            "/api/roll?modem_id=6,5,6,x,5", {}, "6,5,x",
            R"({"What":"Unavailable modem for provided token. Modem ID x"})" },
        { "a command keeps every repeat", "GET", "/api/reparse?modem_id=6,5,6,,5", {}, "6,5",
            R"({"modem_id":[6,5,6,5]})" },
        { "a queue read has one member per distinct modem, the empty one too", "GET",
            "/api/dl_queue?modem_id=6,5,6,", {}, "6,5",
            R"({"":{"action":"get"},"5":{"action":"get"},"6":{"action":"get"},"admin":false,)"
            R"("limit":100,"mode":"normal","offset":0})" },
        { "a queue change asks each number once, then the keys beside all", "POST", "/api/dl_queue",
            R"({"all":{"modem_id":[6,5,6,5.5,"x"]},"zz":{}})", "6,5,0,zz",
            R"({"What":"Unavailable modem for provided token. Modem ID zz"})" },
        { "settings of the modem 02 are no driver settings", "GET",
            "/driver_tornel/api/setting?modem=5,02", {}, "5,02", R"({"modem_id":[5,2]})" },
        { "command status: each index once, every item's id in order", "GET",
            "/driver_tornel/api/cmd/status?cmd_id=7,8,07,7", {}, "7,8",
            R"({"db_id":["db-7","db-8","db-7","db-7"]})" },
        { "command status: the first unknown item as it was written", "GET",
            "/driver_tornel/api/cmd/status?cmd_id=7,x,,9", {}, "7,0,9",
            R"({"What":"Unknown cmd_id: x"})" },
        { "command status: an empty item is index 0", "GET",
            "/driver_tornel/api/cmd/status?cmd_id=7,,0,x", {}, "7,0",
            R"({"What":"Unknown cmd_id: "})" },
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.behaviour);
        store.asked.clear();
        raw_response answer;
        if (command_or_answer(r.method, r.target, restricted_user(), r.body, answer)) {
            EXPECT_EQ(
                QString(QJsonDocument(api.commands.front().data).toJson(QJsonDocument::Compact)),
                QString(r.answer));
        } else {
            EXPECT_EQ(QString(answer.body), QString(r.answer));
        }
        EXPECT_EQ(store.asked.join(','), r.asked) << r.behaviour;
    }
}

// How the old reading named the modems of a queue change and of a settings body: by the keys
// and values of QJsonDocument's object, each id asked once, an empty one never.
QStringList named_by_qt(const QByteArray& body, bool queue)
{
    const QJsonObject object = QJsonDocument::fromJson(body).object();
    QStringList ids = object.keys();
    const QJsonValue all = object.value("all");
    const QJsonValue listed = all.toObject().value("modem_id");
    if (queue && !ids.isEmpty() && ids.first() == "all" && all.isObject() && listed.isArray()) {
        QStringList numbers;
        for (const QJsonValue& element : listed.toArray()) {
            const double number = element.toDouble(0.5);
            const bool whole
                = std::floor(number) == number && number >= -2147483648.0 && number <= 2147483647.0;
            numbers << QString::number(whole ? int(number) : 0);
        }
        ids = numbers + ids.mid(1);
    }
    QStringList asked;
    for (const QString& id : ids) {
        if (!id.isEmpty() && !asked.contains(id))
            asked << id;
    }
    return asked;
}

// The bodies are read without a document of them; what they name must not change for it.
TEST_F(modem_id_lists_test, a_queue_change_and_a_settings_body_name_what_their_qt_objects_named)
{
    const QByteArray bodies[] = {
        R"({"all":{"modem_id":[6,5,6,5.5,"x",1e300,-0.0,2147483648,-2147483648,[1],{"a":1},true,)"
        R"(null,5e0,0.5e1,60e-1]},"zz":{},"b":{}})",
        R"({"all":{"modem_id":[6,5,"6",[6]]},"0":1})",
        R"({"all":{"modem_id":[9]},"all":{"modem_id":[6]}})",
        R"({"all":{"modem_id":[9],"modem_id":[6,5]}})",
        R"({"all":{"x":{"modem_id":[9]},"modem_id":[6,1e1]}})",
        "{\"\\u0061ll\":{\"modem_id\":[6]}}",
        "{\"\xef\xbb\xbf"
        "all\":{\"modem_id\":[6]}}",
        "{\"all\":{\"\xef\xbb\xbfmodem_id\":[9],\"modem_id\":[6]}}",
        "{\"all\":{\"\xef\xbb\xbfmodem_id\":[9]}}",
        R"({"all":[1]})",
        R"({"all":{"modem_id":{"0":1}}})",
        R"({"all":{"modem_id":[]},"x":1})",
        R"({"":{},"all":{"modem_id":[6]}})",
        " { \"all\" : { \"modem_id\" : [ 6 , 5 , 1.0 ] } , \"02\" : 1 } ",
        R"({"6":{},"5":{"k":1},"5":[],"x":1})",
        "{\"\xc3\xa9\":1,\"\\u00e9\":2,\"An\":3,\"\\ud83d\":4}",
        R"([{"all":{"modem_id":[9]}}])",
    };
    for (const QByteArray& body : bodies) {
        for (const bool queue : { true, false }) {
            const std::string where = (queue ? "dl_queue " : "setting ") + body.toStdString();
            const QStringList named = named_by_qt(body, queue);
            QString foreign;
            for (const QString& id : named) {
                if (!store.owned.contains(id)) {
                    foreign = id;
                    break;
                }
            }
            SCOPED_TRACE(where);
            store.asked.clear();
            raw_response answer;
            command_or_answer(
                "POST", queue ? "/api/dl_queue" : "/api/setting", restricted_user(), body, answer);
            // The store is asked about the whole list at once.
            EXPECT_EQ(store.asked, named) << where;
            if (foreign.isNull()) {
                EXPECT_EQ(api.commands.size(), 1u) << where;
                continue;
            }
            EXPECT_EQ(QString(answer.body),
                "{\"What\":\"Unavailable modem for provided token. Modem ID " + foreign + "\"}")
                << where;
        }
    }
}

// `count` ids: the prefix and a number from 0 up.
QStringList numbered(const QString& prefix, int count)
{
    QStringList ids;
    for (int i = 0; i < count; ++i)
        ids << prefix + QString::number(i);
    return ids;
}

// A long list goes to the store a chunk of 4,096 distinct ids at a time, and the first chunk that
// holds a foreign id ends it; the refusal names the id that asking the whole list named.
TEST_F(modem_id_lists_test, a_long_list_is_asked_a_chunk_at_a_time_up_to_a_foreign_id)
{
    const QStringList owned = numbered("o", 5000);
    const QStringList owned_numbers = numbered("1", 4096); // 10, 11, ..., 14095
    for (const QString& id : owned + owned_numbers)
        store.owned.insert(id);
    const QByteArray foreign = numbered("f", 5000).join(',').toUtf8();
    const QByteArray a_chunk = owned.mid(0, 4096).join(',').toUtf8();
    QByteArray keys = "{\"f\":0";
    for (const QString& id : numbered("f", 5000))
        keys += ",\"" + id.toUtf8() + "\":0";
    keys += "}";
    const QByteArray numbers
        = "{\"all\":{\"modem_id\":[" + owned_numbers.join(',').toUtf8() + ",-7]}}";
    struct row
    {
        const char* behaviour;
        QByteArray target, body;
        std::vector<std::size_t> questions;
        const char* foreign;
    };
    const row rows[] = {
        { "a driver form of foreign ids: one chunk", "/driver_tornel/api/setting",
            "code=1&modem=" + foreign, { 4096 }, "f0" },
        { "the second chunk finds the first foreign id", "/driver_tornel/api/setting",
            "modem=" + owned.join(',').toUtf8() + "," + foreign, { 4096, 4096 }, "f0" },
        { "ids of earlier chunks and the empty one are not asked again; the rest is",
            "/driver_tornel/api/setting", "modem=," + a_chunk + ",o0,,o1,x,o2", { 4096, 1 }, "x" },
        { "the keys of a settings body", "/api/setting", keys, { 4096 }, "f" },
        { "the numbers of a queue change", "/api/dl_queue", numbers, { 4096, 1 }, "-7" },
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.behaviour);
        store.questions.clear();
        const raw_response answer = request("POST", r.target, restricted_user(), r.body);
        EXPECT_EQ(QString(answer.body),
            QString("{\"What\":\"Unavailable modem for provided token. Modem ID %1\"}")
                .arg(r.foreign));
        EXPECT_EQ(store.questions, r.questions);
    }
}

// Lists as long as a power of two and one past it, where the check's table widens, in each form
// the check reads them, every id named twice: each is asked once, in the order first named, the
// chunks as before.
TEST_F(modem_id_lists_test, lists_one_past_a_power_of_two_ask_each_id_once_in_order)
{
    for (const int count : { 4096, 4097 }) {
        QStringList ids; // numbers of one width: Qt's key order is theirs
        for (int i = 0; i < count; ++i)
            ids << QString::number(10000 + i);
        for (const QString& id : ids)
            store.owned.insert(id);
        const QByteArray listed = ids.join(',').toUtf8();
        QByteArray keys = "{\"x\":0";
        for (const QString& id : ids)
            keys += ",\"" + id.toUtf8() + "\":0,\"\xef\xbb\xbf" + id.toUtf8() + "\":0";
        keys += "}";
        store.owned.insert("x");
        struct row
        {
            const char* behaviour;
            QByteArray target, body;
            QStringList asked;
        };
        const row rows[] = {
            { "a driver form", "/driver_tornel/api/setting",
                "code=1&modem=" + listed + "," + listed, ids },
            { "the keys of a settings body, each also after a byte order mark, which its text "
              "drops",
                "/api/setting", keys, ids + QStringList { "x" } },
            { "the numbers of a queue change", "/api/dl_queue",
                "{\"all\":{\"modem_id\":[" + listed + "," + listed + "]}}", ids },
        };
        for (const row& r : rows) {
            SCOPED_TRACE(std::string(r.behaviour) + ", " + std::to_string(count) + " ids");
            store.asked.clear();
            store.questions.clear();
            raw_response answer;
            EXPECT_TRUE(command_or_answer("POST", r.target, restricted_user(), r.body, answer))
                << answer.body.constData();
            EXPECT_EQ(store.asked, r.asked);
            std::vector<std::size_t> chunks { 4096 };
            if (r.asked.size() > 4096)
                chunks.push_back(std::size_t(r.asked.size() - 4096));
            EXPECT_EQ(store.questions, chunks);
        }
    }
}

// Ids are told apart by their whole text: one that starts another, or is as long and differs
// at its end, is an id of its own; the first foreign one is named as first named. An id longer
// than a copy's block, or than 2^16 characters, is kept whole.
TEST_F(modem_id_lists_test, ids_sharing_their_start_are_told_apart)
{
    // p, pp, ..., 300 of them, longest first, then the list again: many shorter ones are looked
    // for in slots taken by longer ones that start with them.
    QStringList prefixes;
    for (int n = 300; n >= 1; --n)
        prefixes << QString(n, 'p');
    const QByteArray prefix_list = prefixes.join(',').toUtf8();
    QByteArray prefix_keys = "{";
    for (const QString& id : prefixes)
        prefix_keys += "\"" + id.toUtf8() + "\":0,";
    prefix_keys[prefix_keys.size() - 1] = '}';
    QStringList sorted = prefixes;
    std::sort(sorted.begin(), sorted.end());
    const QString long_id(70000, 'k');
    const QString block_id(20000, 'b');
    store.owned = { long_id, long_id + "x", block_id, "5" };
    for (const QString& id : prefixes)
        store.owned.insert(id);
    const QByteArray long_keys = "{\"" + long_id.toUtf8() + "\":0,\"" + long_id.toUtf8()
        + "x\":0,\"" + block_id.toUtf8() + "\":0,\"5\":0,\"6\":0}";
    struct row
    {
        const char* behaviour;
        QByteArray target, body;
        QStringList asked;
        const char* foreign; // none: the command is sent
    };
    const row rows[] = {
        { "parts that start one another", "/driver_tornel/api/setting",
            "code=1&modem=" + prefix_list + "," + prefix_list, prefixes, nullptr },
        { "keys that start one another", "/api/setting", prefix_keys, sorted, nullptr },
        { "parts that differ at their ends; the first foreign one is named",
            "/driver_tornel/api/setting", "modem=ab9,ab8,5,ab8,ab9,ab7",
            { "ab9", "ab8", "5", "ab7" }, "ab9" },
        { "keys longer than a block and than 2^16 characters", "/api/setting", long_keys,
            { "5", "6", block_id, long_id, long_id + "x" }, "6" },
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.behaviour);
        store.asked.clear();
        raw_response answer;
        const bool sent = command_or_answer("POST", r.target, restricted_user(), r.body, answer);
        EXPECT_EQ(store.asked, r.asked);
        if (!r.foreign) {
            EXPECT_TRUE(sent) << answer.body.constData();
            continue;
        }
        EXPECT_EQ(QString(answer.body),
            QString("{\"What\":\"Unavailable modem for provided token. Modem ID %1\"}")
                .arg(r.foreign));
    }
}

// Database ids are written as JSON strings straight from the store's bytes: quotes, controls,
// text beyond ASCII and a NUL (which ends an id) as Qt wrote them.
TEST_F(modem_id_lists_test, command_status_writes_each_database_id_as_qt_did)
{
    store.db_ids = { { 7, "db-7" }, { 8, "d\"b" }, { 9, QString("a") + QChar(0) + "b" },
        { 10, "b\\s" }, { 11, "\x01" }, { 12, QString::fromUtf8("\xc3\xa9\xf0\x9f\x98\x80") } };
    api.commands.clear();
    loop_client client(port());
    client.send_request("GET", "/driver_tornel/api/cmd/status?cmd_id=8,7,8,8,9,10,10,11,12,7,8",
        restricted_user(), {});
    ASSERT_TRUE(wait_until([&] { return !api.commands.empty(); }));
    QJsonArray db_ids;
    for (int index : { 8, 7, 8, 8, 9, 10, 10, 11, 12, 7, 8 })
        db_ids.append(store.db_ids.value(index).section(QChar(0), 0, 0));
    EXPECT_EQ(api.commands.front().data_text.toStdString(),
        QJsonDocument(QJsonObject { { "db_id", db_ids } })
            .toJson(QJsonDocument::Compact)
            .toStdString());
}

// Inserted one by one in the caller's order, these ids used to cost n²; the answer is the
// object that those inserts made.
TEST_F(modem_id_lists_test, check_ids_answers_a_reversed_list_as_before)
{
    QStringList ids;
    QJsonObject expected;
    for (int id = 3000; id >= 1; --id) {
        ids << QString::number(id);
        expected.insert(QString::number(id), id % 7 == 0);
    }
    store.owned.clear();
    for (int id = 7; id <= 3000; id += 7)
        store.owned.insert(QString::number(id));
    const raw_response answer
        = request("GET", "/api/check_ids?modem_id=" + ids.join(',').toUtf8(), restricted_user());
    EXPECT_EQ(answer.body, QJsonDocument(expected).toJson(QJsonDocument::Compact));
    EXPECT_EQ(store.asked, ids);
}

} // namespace
