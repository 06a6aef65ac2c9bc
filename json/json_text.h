#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QStringView>
#include <string_view>

// Pieces of JSON text written byte for byte as QJsonDocument::toJson(QJsonDocument::Compact)
// writes them inside a document, so that a document can be put together from its parts.

// The text as a JSON string, quotes included.
void append_qt_json_string(QByteArray& out, QStringView text);
// The string QString::fromUtf8 reads from `utf8`, as a JSON string: printable ASCII goes as it
// is, without a QString of it.
void append_qt_json_string(QByteArray& out, std::string_view utf8);
// Any value: an object, an array, a string, a number, true, false or null.
void append_qt_json_value(QByteArray& out, const QJsonValue& value);
// The value whose compact text `json` is, as QJsonDocument::fromJson reads it in an array (so
// that a lone string, number, true, false or null reads too); null when it is not valid.
QJsonValue read_qt_json_value(const QByteArray& json);
