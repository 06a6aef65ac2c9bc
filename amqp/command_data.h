#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <map>
#include <string_view>

// The data of a command: an object, and members given as their JSON text already, so that a
// large part read from a request can go out as the text it came in without being built into
// a QJsonObject and written out again. A ready text must be exactly what
// QJsonDocument::toJson(QJsonDocument::Compact) writes for its value; it is not checked. A
// ready member replaces a member of the object that has the same key. The data may also be one
// ready text as a whole, the text of an object: a request body sent on as it came then costs no
// map node per member.
class command_data
{
public:
    command_data() = default;
    // Implicit: a handler gives its object wherever a command's data goes.
    command_data(QJsonObject object)
        : object_(std::move(object))
    { }

    // The whole data as the compact text of an object. Such data takes no further members.
    static command_data ready_object(QByteArray json);

    // As QJsonObject::insert: the member replaces one of the same key, a ready one too.
    void insert(const QString& key, const QJsonValue& value);
    void insert_ready(const QString& key, QByteArray json);

    // Keyed in the order Qt keeps an object's keys in: QString's operator<.
    const std::map<QString, QByteArray>& ready() const { return ready_; }

    // `prefix`, then the data as QJsonDocument::toJson(QJsonDocument::Compact) writes the
    // object with the ready members parsed into it, in one array with room for `room_after`
    // more bytes. Each ready text is copied once, into the array.
    QByteArray compact_after(std::string_view prefix, int room_after) const&;
    // The same from data that is not kept: when a ready text is all it holds (the whole data,
    // or its one member), that text is written around in place rather than copied.
    QByteArray compact_after(std::string_view prefix, int room_after) &&;
    // The object with the ready members parsed into it: what the message's reader sees.
    QJsonObject parsed() const;

private:
    QJsonObject object_;
    std::map<QString, QByteArray> ready_;
    QByteArray whole_; // the ready object of the whole data; null when there is none
};
