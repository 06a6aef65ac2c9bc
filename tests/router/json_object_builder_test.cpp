#include "router/json_object_builder.h"

#include <QJsonDocument>
#include <QRandomGenerator>
#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

namespace {

QByteArray text_of(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Keys over an alphabet where UTF-16 order and code point order part ways (a surrogate pair
// against U+E000 and U+FFFF), with Latin-1 and plain letters beside them.
QString random_key(QRandomGenerator& random)
{
    static const ushort units[] = { 'a', 'b', 0xE9, 0x20AC, 0xE000, 0xFFFF };
    QString key;
    const int length = int(random.bounded(4));
    for (int i = 0; i < length; ++i) {
        if (random.bounded(7) == 0)
            key += QString::fromUtf8("\xf0\x9f\x98\x80");
        else
            key += QChar(units[random.bounded(int(sizeof units / sizeof units[0]))]);
    }
    return key;
}

struct member
{
    QString key;
    QJsonValue value;
};

std::vector<member> random_members(QRandomGenerator& random, int count)
{
    std::vector<member> members;
    for (int i = 0; i < count; ++i)
        members.push_back({ random_key(random),
            random.bounded(9) == 0 ? QJsonValue(QJsonValue::Undefined) : QJsonValue(i) });
    return members;
}

QJsonObject inserted_one_by_one(QJsonObject object, const std::vector<member>& members)
{
    for (const member& m : members)
        object.insert(m.key, m.value);
    return object;
}

} // namespace

// Whatever the order and the repeats, the builder gives the object that inserting gives: the
// last value of a key, an undefined one taking the key away.
TEST(JsonObjectBuilder, GivesWhatInsertingOneByOneGives)
{
    QRandomGenerator random(26);
    for (int round = 0; round < 300; ++round) {
        const std::vector<member> members = random_members(random, int(random.bounded(40)));
        json_object_builder builder;
        for (const member& m : members)
            builder.insert(m.key, m.value);
        const QJsonObject built = builder.take();
        ASSERT_EQ(text_of(built), text_of(inserted_one_by_one({}, members))) << round;
        EXPECT_TRUE(builder.take().isEmpty());
    }
}

TEST(JsonObjectBuilder, StartsFromAnObjectsMembers)
{
    const QJsonObject start { { "b", 1 }, { "d", 2 } };
    json_object_builder builder(start);
    builder.insert("a", 3);
    builder.insert("d", 4);
    builder.insert("b", QJsonValue(QJsonValue::Undefined));
    EXPECT_EQ(text_of(builder.take()), QByteArray(R"({"a":3,"d":4})"));
}

// Merging gives what inserting every member of the second object into the first gives, for
// objects built by inserting and for objects parsed from text, whose keys Qt orders otherwise.
TEST(JsonObjectBuilder, InsertAllGivesWhatInsertingEachMemberGives)
{
    QRandomGenerator random(27);
    for (int round = 0; round < 300; ++round) {
        const QJsonObject into = inserted_one_by_one({}, random_members(random, 20));
        const QJsonObject from = inserted_one_by_one({}, random_members(random, 20));
        const auto oracle = [](QJsonObject a, const QJsonObject& b) {
            for (auto it = b.begin(); it != b.end(); ++it)
                a.insert(it.key(), it.value());
            return a;
        };
        QJsonObject merged = into;
        insert_all(merged, from);
        ASSERT_EQ(text_of(merged), text_of(oracle(into, from))) << round;

        // A parsed reply merged into nothing comes out as inserting its members would leave it.
        const QJsonObject parsed = QJsonDocument::fromJson(text_of(from)).object();
        QJsonObject fresh;
        insert_all(fresh, parsed);
        ASSERT_EQ(text_of(fresh), text_of(oracle({}, parsed))) << round;
    }
}

TEST(JsonObjectBuilder, InsertAllOverlaysInterleavedKeys)
{
    QJsonObject into { { "a", 1 }, { "c", 2 }, { "e", 3 } };
    insert_all(into, QJsonObject { { "b", 4 }, { "c", 5 }, { "f", 6 } });
    EXPECT_EQ(text_of(into), QByteArray(R"({"a":1,"b":4,"c":5,"e":3,"f":6})"));
    insert_all(into, QJsonObject());
    EXPECT_EQ(into.size(), 5);
}

namespace {

QJsonObject numbered(int count, int first, int step, const char* prefix, int value)
{
    QJsonObject object;
    for (int i = 0; i < count; ++i)
        object.insert(
            QStringLiteral("%1%2").arg(prefix).arg(first + i * step, 6, 10, QChar('0')), value + i);
    return object;
}

} // namespace

// Large enough that moving members one by one would cost more than merging, or small enough
// that it would not: either way the object is the one that inserting gives, down to the order
// Qt's parser left a body's keys in when a few members go in.
TEST(JsonObjectBuilder, InsertAllGivesWhatInsertingGivesWhereverTheKeysGo)
{
    const QJsonObject body = numbered(400, 0, 2, "k", 0);
    const QJsonObject parsed_body = QJsonDocument::fromJson(text_of(body)).object();
    // Ordered by code point, as the parser leaves them: U+E000 before U+1F600.
    const QJsonObject parsed_wide
        = QJsonDocument::fromJson("{\"\xee\x80\x80\":1,\"\xf0\x9f\x98\x80\":2,\"b\":3}").object();
    struct row
    {
        const char* behaviour;
        QJsonObject into;
        QJsonObject from;
    };
    const row rows[] = {
        { "many keys before every member", body, numbered(300, 0, 1, "a", 1000) },
        { "keys between and on the members of a parsed body", parsed_body,
            numbered(500, 100, 1, "k", 1000) },
        { "a plain key before keys the parser ordered by code point", parsed_wide,
            QJsonObject { { "a", 4 }, { "c", 5 } } },
    };
    for (const row& r : rows) {
        QJsonObject oracle = r.into;
        for (auto it = r.from.begin(); it != r.from.end(); ++it)
            oracle.insert(it.key(), it.value());
        QJsonObject merged = r.into;
        insert_all(merged, r.from);
        EXPECT_EQ(text_of(merged), text_of(oracle)) << r.behaviour;
    }
}

// Several parts merged at once give what inserting them in turn gives: the latest part's value
// of a key, whether the parts interleave, repeat one another or come in falling order, and with
// keys whose order Qt's parser and insert() see apart.
TEST(JsonObjectBuilder, InsertAllOfSeveralPartsGivesWhatInsertingInTurnGives)
{
    QRandomGenerator random(28);
    for (int round = 0; round < 300; ++round) {
        const bool plain_keys = round % 3 != 0;
        std::vector<QJsonObject> parts;
        for (int p = int(random.bounded(6)); p >= 0; --p) {
            QJsonObject part;
            for (int i = 0; i < 15; ++i) {
                const QString key
                    = plain_keys ? QString::number(random.bounded(40)) : random_key(random);
                part.insert(key, int(random.bounded(1000)));
            }
            parts.push_back(round % 2 ? QJsonDocument::fromJson(text_of(part)).object() : part);
        }
        QJsonObject start { { "5", "start" } };
        QJsonObject oracle = start;
        for (const QJsonObject& part : parts)
            for (auto it = part.begin(); it != part.end(); ++it)
                oracle.insert(it.key(), it.value());
        insert_all(start, parts);
        ASSERT_EQ(text_of(start), text_of(oracle)) << round;
    }
}

// A reply with a key the parser kept with a byte order mark is merged as inserting its members
// makes it: that key compares as its QString, so a lookup finds it and a later reply's key of
// that text replaces its value.
TEST(JsonObjectBuilder, InsertAllTakesAPartsKeysAsTheirQStrings)
{
    const QJsonObject part = QJsonDocument::fromJson("{\"a\":1,\"\xef\xbb\xbfz\":2}").object();
    QJsonObject merged;
    insert_all(merged, std::vector<QJsonObject> { part });
    EXPECT_TRUE(merged.contains(QStringLiteral("z")));
    insert_all(merged, QJsonObject { { "z", 3 } });
    EXPECT_EQ(text_of(merged), QByteArray(R"({"a":1,"z":3})"));
}
