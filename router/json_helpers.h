#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <QStringView>

// Appends the caller's API keys to the object's "api_key" array (made when absent or not
// an array).
void add_api_keys(QJsonObject& params, const QStringList& api_keys);

// Folds one reply of a command answered by several instances into `merged`. When `counter`
// reaches `expected`, `reply` becomes the merged object and true is returned.
bool merge_json_object(QJsonDocument& reply, QJsonObject& merged, int expected, int& counter);

// The entries that read as decimal 32-bit integers, as JSON numbers; others are skipped.
QJsonArray to_int_json_array(const QStringList& list);

// The same for the items of the text split at every "," (a command's "modem_id"), read one by
// one: no item becomes a string of its own.
QJsonArray split_to_int_json_array(QStringView text);

// The text split at every ",", empty pieces kept, as an array of strings.
QJsonValue split_to_json_array(const QString& text);
