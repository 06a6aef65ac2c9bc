#pragma once

#include "router/json_overlay.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QUrl>
#include <functional>
#include <map>

// key=value items joined by "&", used as they stand (no percent-decoding). Items without
// exactly one "=" are skipped; a repeated key keeps its last value.
std::map<QString, QString> parse_query_map(const QString& text);

// The same, keeping only the keys `keep` accepts: a text of a million items it does not name
// costs nothing per item.
std::map<QString, QString> parse_query_map(
    const QString& text, const std::function<bool(QStringView)>& keep);

// The same of Latin-1 text, which only the kept keys and values are widened from.
std::map<QString, QString> parse_query_map(
    QLatin1String text, const std::function<bool(QStringView)>& keep);

// The URL query, fully decoded, as a JSON object: "1,2,3" becomes an array, "{...}" an
// object (null when either is not valid JSON), plain text a string; a value holding any of
// the characters " ^ ' , . * otherwise is left out.
QJsonObject query_to_json(const QUrl& url);

// The body as a JSON object (anything else counts as empty) with the query laid over it, the
// body's members kept as its text.
json_overlay request_params(const QUrl& url, const QByteArray& body);
