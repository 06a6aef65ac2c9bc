#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <functional>
#include <utility>
#include <vector>

// An object whose members come in an order someone else chooses (a caller, a back-end). A
// QJsonObject keeps its keys sorted in one block, so each insert() moves every member that sorts
// after the new key: n members in falling order cost n². The members are collected here and put
// in sorted, which costs n log n whatever the order; the object is the one that inserting them
// one by one would give (a key given again keeps its last value, an undefined value removes it).
class json_object_builder
{
public:
    json_object_builder() = default;
    // Starts from the members of `object`, as if each had been inserted first.
    explicit json_object_builder(const QJsonObject& object);

    void reserve(std::size_t members) { members_.reserve(members); }
    void insert(const QString& key, const QJsonValue& value) { members_.emplace_back(key, value); }
    // Every member of `object`, as inserting each in turn would.
    void insert(const QJsonObject& object);

    // The object; the builder is left empty.
    QJsonObject take();

private:
    std::vector<std::pair<QString, QJsonValue>> members_;
};

// Whether the keys of `object` are in strictly ascending order by QString's operator<. With
// `plain`, also each free of units from U+D800 on, so that it orders alike by UTF-16 unit and by
// code point: Qt's JSON parser sorts keys by code point, insert() by unit, and the two differ
// where a character beyond U+FFFF meets one from U+E000 on. An object that is not so is merged
// by sorting, which leaves its keys in insert()'s order where inserting one by one kept the
// parser's.
bool keys_ascending(const QJsonObject& object, bool plain = false);

// How insert_all(into, from) goes about it: true when it inserts the members of `from` one by
// one, as few members of `into` move that way (a handful of keys, or keys that go near the end);
// otherwise it makes the object anew, every key of both in QString's order, of a key in both the
// value of `from`. `into` is given by its size and its keys by position.
bool inserts_one_by_one(
    int into_size, const std::function<QString(int)>& into_key, const QJsonObject& from);

// `into` with every member of `from` inserted, as inserting them one by one would leave it, in
// time linear in both: one by one while few members move (a handful of keys, or keys that go at
// the end), else the two sorted objects are merged.
void insert_all(QJsonObject& into, const QJsonObject& from);

// What inserting the members of each of `parts` in turn into `into` gives (a later part wins a
// key), in time of their total times log of their number: each part is sorted already, so they
// are merged at once rather than one after another.
void insert_all(QJsonObject& into, std::vector<QJsonObject> parts);
