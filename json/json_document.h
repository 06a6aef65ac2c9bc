#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonParseError>

// QJsonDocument::fromJson, for any text a caller, a back-end or a file wrote: the same document,
// the same error at the same offset, without what Qt 5.15 loses when an object repeats a key. Of
// a repeated key Qt keeps one member and never frees the value of the others when it is an array
// or an object; here Qt gets a text in which each such value is blanked to a number first.
QJsonDocument read_json_document(const QByteArray& text, QJsonParseError* error = nullptr);
