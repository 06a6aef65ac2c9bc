#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QString>

// Pieces of JSON text written byte for byte as QJsonDocument::toJson(QJsonDocument::Compact)
// writes them inside a document, so that a document can be put together from its parts.

// Text that JSON writes between quotes as it is: printable ASCII without quote or backslash.
bool is_plain_json_text(const QString& text);
// The text as a JSON string, quotes included.
void append_qt_json_string(QByteArray& out, const QString& text);
// Any value: an object, an array, a string, a number, true, false or null.
void append_qt_json_value(QByteArray& out, const QJsonValue& value);
