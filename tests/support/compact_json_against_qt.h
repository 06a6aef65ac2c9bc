#pragma once

#include "json/compact_json.h"
#include "json/json_document.h"
#include "json/json_text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <cstring>
#include <string>

// compact_json and read_json_document set against QJsonDocument on one body, for the unit test
// and the fuzz target alike: the first point on which they part, described, or an empty text when
// they agree on all that compact_json answers.
namespace against_qt {

inline std::string shown(const QByteArray& bytes)
{
    return bytes.toPercentEncoding(" {}[]:,\"").left(1000).toStdString();
}

inline std::string shown(const QString& text)
{
    const QByteArray units(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    return units.toHex().toStdString() + (text.isNull() ? " (null)" : "");
}

inline std::string differ(const char* what, const std::string& mine, const std::string& qt)
{
    return std::string(what) + ": mine " + mine + ", Qt " + qt;
}

// The writer's text for one value, whatever its type.
inline QByteArray compact(const QJsonValue& value)
{
    if (value.isObject())
        return QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
    if (value.isArray())
        return QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact);
    const QByteArray wrapped = QJsonDocument(QJsonArray { value }).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}

// Type, text and, for a number, its exact bits and whether Qt holds it as an integer.
inline std::string described(const QJsonValue& value)
{
    std::string text = std::to_string(int(value.type())) + " " + shown(compact(value));
    if (value.isDouble()) {
        const double d = value.toDouble();
        quint64 bits;
        std::memcpy(&bits, &d, sizeof bits);
        text += " bits " + std::to_string(bits) + " as " + value.toVariant().typeName() + " "
            + std::to_string(value.toVariant().toLongLong());
    }
    if (value.isString())
        text += " text " + shown(value.toString());
    return text;
}

inline std::string string_escape(const QString& text)
{
    QByteArray mine;
    append_qt_json_string(mine, text);
    const QByteArray qt = compact(QJsonValue(text));
    return mine == qt ? std::string() : differ("escaping", shown(mine), shown(qt));
}

inline std::string member(const compact_json& mine, const QJsonObject& object, int i)
{
    const QString qt_key = object.keys().at(i);
    const QString key = mine.key(i);
    if (key != qt_key || key.isNull() != qt_key.isNull())
        return differ("key", shown(key), shown(qt_key));
    if (std::string escape = string_escape(key); !escape.empty())
        return escape;

    const QJsonValue value = (object.constBegin() + i).value();
    const std::string_view text = mine.value_text(i);
    if (QByteArray(text.data(), int(text.size())) != compact(value))
        return differ("value text", std::string(text), shown(compact(value)));
    QByteArray whole;
    append_qt_json_string(whole, key);
    whole += ':' + compact(value);
    const std::string_view member_text = mine.member_text(i);
    if (QByteArray(member_text.data(), int(member_text.size())) != whole)
        return differ("member text", std::string(member_text), shown(whole));
    static const QJsonValue::Type types[] = { QJsonValue::Object, QJsonValue::Array,
        QJsonValue::String, QJsonValue::Double, QJsonValue::Bool, QJsonValue::Null };
    if (types[int(mine.value_kind(i))] != value.type())
        return differ(
            "kind", std::to_string(int(mine.value_kind(i))), std::to_string(int(value.type())));

    const QJsonValue expected
        = value.isArray() || value.isObject() ? QJsonValue(QJsonValue::Undefined) : value;
    const QJsonValue scalar = mine.scalar(i);
    if (described(scalar) != described(expected) || scalar != expected)
        return differ("scalar", described(scalar), described(expected));
    if (value.isString()) {
        if (std::string escape = string_escape(value.toString()); !escape.empty())
            return escape;
    }
    const QString variant = mine.variant_text(i);
    const QString qt_variant = value.toVariant().toString();
    if (variant != qt_variant || variant.isNull() != qt_variant.isNull())
        return differ("variant text", shown(variant), shown(qt_variant));

    const auto found = object.find(qt_key);
    const int qt_index = found == object.end() ? -1 : int(found - object.begin());
    if (mine.index_of(qt_key) != qt_index)
        return differ("lookup", std::to_string(mine.index_of(qt_key)), std::to_string(qt_index));
    return {};
}

inline std::string body(const QByteArray& body)
{
    QJsonParseError qt_error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &qt_error);
    const compact_json mine(body);
    const QJsonParseError error = mine.error();
    if (error.error != qt_error.error || error.offset != qt_error.offset)
        return differ("error", std::to_string(error.error) + "@" + std::to_string(error.offset),
            std::to_string(qt_error.error) + "@" + std::to_string(qt_error.offset));
    if (mine.is_object() != document.isObject() || mine.is_array() != document.isArray())
        return differ(
            "object", std::to_string(mine.is_object()), std::to_string(document.isObject()));
    const QByteArray qt_text = document.toJson(QJsonDocument::Compact);
    if (mine.text() != qt_text)
        return differ("text", shown(mine.text()), shown(qt_text));
    QJsonParseError read_error;
    const QJsonDocument read = read_json_document(body, &read_error);
    if (read != document || read.toJson(QJsonDocument::Compact) != qt_text
        || read_error.error != qt_error.error || read_error.offset != qt_error.offset)
        return differ("document", shown(read.toJson(QJsonDocument::Compact)), shown(qt_text));

    const QJsonObject object = document.object();
    if (mine.size() != object.size())
        return differ("size", std::to_string(mine.size()), std::to_string(object.size()));
    for (int i = 0; i < mine.size(); ++i) {
        if (std::string part = member(mine, object, i); !part.empty())
            return "member " + std::to_string(i) + " " + part;
    }
    return {};
}

} // namespace against_qt
