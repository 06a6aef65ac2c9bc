#include "amqp/command_data.h"

#include "json/json_document.h"
#include "json/json_text.h"

#include <QJsonDocument>
#include <utility>

command_data command_data::ready_object(QByteArray json)
{
    command_data data;
    data.whole_ = std::move(json);
    return data;
}

void command_data::insert(const QString& key, const QJsonValue& value)
{
    Q_ASSERT(whole_.isNull());
    ready_.erase(key);
    object_.insert(key, value);
}

void command_data::insert_ready(const QString& key, QByteArray json)
{
    Q_ASSERT(whole_.isNull());
    ready_.insert_or_assign(key, std::move(json));
}

QByteArray command_data::compact_after(std::string_view prefix, int room_after) const&
{
    QByteArray out;
    if (!whole_.isNull()) {
        out.reserve(int(prefix.size()) + whole_.size() + room_after);
        out.append(prefix.data(), int(prefix.size()));
        out += whole_;
        return out;
    }
    if (ready_.empty() && !object_.isEmpty()) {
        // The object's own text takes the prefix in front, in place: a large object is not
        // held twice while its command is made.
        out = QJsonDocument(object_).toJson(QJsonDocument::Compact);
        out.reserve(out.size() + int(prefix.size()) + room_after);
        out.prepend(prefix.data(), int(prefix.size())); // in place, unlike prepend(QByteArray)
        return out;
    }
    qsizetype room = qsizetype(prefix.size()) + 2 + room_after + 16 * object_.size();
    for (const auto& member : ready_)
        room += member.first.size() + 4 + member.second.size();
    out.reserve(int(room));
    out.append(prefix.data(), int(prefix.size()));
    out += '{';
    bool first = true;
    const auto write_key = [&out, &first](const QString& key) {
        if (!first)
            out += ',';
        first = false;
        append_qt_json_string(out, key);
        out += ':';
    };
    // Both lists are in key order: one pass merges them.
    auto ready = ready_.begin();
    for (auto member = object_.begin(); member != object_.end(); ++member) {
        const QString key = member.key();
        for (; ready != ready_.end() && ready->first < key; ++ready) {
            write_key(ready->first);
            out += ready->second;
        }
        if (ready != ready_.end() && ready->first == key)
            continue; // replaced: written by the ready member on the next round or below
        write_key(key);
        append_qt_json_value(out, member.value());
    }
    for (; ready != ready_.end(); ++ready) {
        write_key(ready->first);
        out += ready->second;
    }
    out += '}';
    return out;
}

QByteArray command_data::compact_after(std::string_view prefix, int room_after) &&
{
    // The data's one ready text, with what goes before it written in front of it in place: a
    // long list or a large body is not held twice while its command is made.
    const bool member = whole_.isNull() && object_.isEmpty() && ready_.size() == 1;
    if (whole_.isNull() && !member)
        return std::as_const(*this).compact_after(prefix, room_after);
    QByteArray head(prefix.data(), int(prefix.size()));
    if (member) {
        head += '{';
        append_qt_json_string(head, ready_.begin()->first);
        head += ':';
    }
    QByteArray out = std::move(member ? ready_.begin()->second : whole_);
    out.reserve(head.size() + out.size() + 1 + room_after);
    out.prepend(head.constData(), head.size()); // in place, unlike prepend(QByteArray)
    if (member)
        out += '}';
    return out;
}

QJsonObject command_data::parsed() const
{
    if (!whole_.isNull())
        return read_json_document(whole_).object();
    QJsonObject object = object_;
    for (const auto& member : ready_)
        object.insert(member.first, read_qt_json_value(member.second));
    return object;
}
