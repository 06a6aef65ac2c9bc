#pragma once

#include <QByteArray>
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

// The lists a caller sends as query items, split at every ",", go into a command as the compact
// text of a JSON array (a ready member), written a run of equal items at a time: no QJsonValue
// and no string per item.

// The items that read as decimal 32-bit integers, as JSON numbers; others are skipped (a
// command's "modem_id").
QByteArray split_to_int_json_text(QStringView text);

// Every item, empty ones kept, as a JSON string.
QByteArray split_to_json_text(QStringView text);

// The same as a QJsonArray, for the telecom handlers, which build their data as an object.
QJsonValue split_to_json_array(const QString& text);
