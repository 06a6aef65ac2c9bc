#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>
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

// `into` with every member of `from` inserted, as inserting them one by one would leave it, in
// time linear in both: one by one while few members move (a handful of keys, or keys that go at
// the end), else the two sorted objects are merged. A merge takes the keys of `into` as their
// QStrings: right for an object made by inserting, as every merge here makes its own, but not
// for a parsed object's key that starts with a byte order mark (Qt's search compares it with
// the mark, its QString is without) nor for the order of a parsed object's keys from U+E000 up
// beside characters past U+FFFF.
void insert_all(QJsonObject& into, const QJsonObject& from);

// What inserting the members of each of `parts` in turn into `into` gives (a later part wins a
// key), in time of their total times log of their number: each part is sorted already, so they
// are merged at once rather than one after another. A parsed part is taken as it is only when its
// keys compare as their QStrings, so `into` comes out as inserting would make it.
void insert_all(QJsonObject& into, std::vector<QJsonObject> parts);
