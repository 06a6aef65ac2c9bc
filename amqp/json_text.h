#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QStringView>

// Pieces of JSON text written byte for byte as QJsonDocument::toJson(QJsonDocument::Compact)
// writes them inside a document, so that a document can be put together from its parts.

// The text as a JSON string, quotes included.
void append_qt_json_string(QByteArray& out, QStringView text);
// Any value: an object, an array, a string, a number, true, false or null.
void append_qt_json_value(QByteArray& out, const QJsonValue& value);
