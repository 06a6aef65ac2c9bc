#pragma once

#include "json/compact_json_key_order.h"

#include <QByteArray>
#include <QJsonParseError>
#include <QJsonValue>
#include <QString>
#include <QStringView>
#include <string_view>
#include <vector>

// Past the value of well-formed JSON text that starts at `at`: a string, an object or an array
// (white space within passed over), or a scalar, which ends where a ",", "]", "}" or white space
// follows it.
const char* json_value_end(const char* at);

// White space as JSON and Qt's parser take it.
inline bool is_json_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Where the values start that QJsonDocument::fromJson reads and then drops, those of a repeated
// key but the one it keeps, as it closes each object (up to its error, when the text has one);
// in no particular order.
std::vector<quint32> dropped_json_values(const QByteArray& text);

// A JSON body read exactly as QJsonDocument::fromJson reads it (what it accepts and refuses,
// with the same error and offset), and written exactly as toJson(QJsonDocument::Compact) writes
// the document fromJson makes of it, without building that document: Qt's DOM costs up to some
// forty bytes per byte of a body; this keeps the compact text, sixteen bytes per member of a
// top-level object, and while it writes, eight bytes per key and sixteen per object for the
// nested objects whose members Qt writes in another order than they came.
//
// The members of a top-level object are open to the handlers: each key as QJsonObject::keys
// gives it, the compact text of its value, and for a scalar the QJsonValue Qt would hold. For a
// top-level array there are none, as QJsonDocument::object() then gives an empty object.
class compact_json
{
public:
    enum class kind : quint8 { object, array, string, number, boolean, null };
    // What is made of the body: its compact text too, or its top-level members alone, for a
    // reader of keys and scalars (text(), object_text() and value_text() are then not at hand).
    enum class reading : quint8 { whole, members };

    // Keeps `body` (shared, not copied): keys and scalars are read from it when asked for.
    explicit compact_json(const QByteArray& body, reading what = reading::whole);

    bool valid() const { return error_.error == QJsonParseError::NoError; }
    // What fromJson would report, offset included.
    QJsonParseError error() const { return error_; }
    bool is_object() const { return valid() && object_; }
    bool is_array() const { return valid() && !object_; }

    // toJson(QJsonDocument::Compact) of what fromJson reads; null when the body is not valid.
    const QByteArray& text() const { return text_; }
    // The same of QJsonDocument::object(): the text of an object, "{}" for an array or a body
    // that is not valid.
    QByteArray object_text() const { return is_object() ? text_ : QByteArray("{}"); }

    // The top-level members, in Qt's order; of a repeated key, the member Qt keeps.
    int size() const { return int(keys_.size()); }
    QString key(int i) const;
    // The compact text of the member's value: a view into text().
    std::string_view value_text(int i) const;
    // The compact text of the whole member, key, colon and value: a view into text(). Members
    // next to each other are next to each other there, a comma between them.
    std::string_view member_text(int i) const;
    kind value_kind(int i) const;
    // The member QJsonObject::value(key) finds, -1 when it finds none.
    int index_of(QStringView key) const;
    // How QJsonObject's search compares the member's key with `key`: as the parser keeps the key
    // (a leading byte order mark, which the QString of key() drops, included).
    int compare_key(int i, QStringView key) const;
    // QJsonObject::value for a scalar member; Undefined for an array or object.
    QJsonValue scalar(int i) const;
    // QJsonValue::toVariant().toString() of the member: null for an array, an object and null.
    QString variant_text(int i) const;
    // The member's value, an object or an array, read as a body of its own: the members of an
    // object value open as the top level's are, found as QJsonObject::value finds them in
    // QJsonValue::toObject(). It reads this body's bytes in place, so it must not outlive them.
    compact_json member_json(int i) const;

private:
    struct span
    {
        quint32 begin;
        quint32 end;
    };

    const char* value_source(int i) const;

    QByteArray source_;
    QByteArray text_;
    QJsonParseError error_ {};
    bool object_ = false;
    std::vector<json_key> keys_;
    std::vector<span> values_;
};
