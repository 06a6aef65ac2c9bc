#pragma once

#include "handlers/telecom/strc_crc.h"
#include "http/qhttp_server.h"
#include "router/json_overlay.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QUrl>
#include <cstdint>

// The parsers that turn a telecom request into its command data. Each takes the request's URL
// and body; none fails: a value that does not read gives 0, [""] or [] as its kind says.

// A base-10 signed 32-bit integer; anything else reads as 0.
struct IntParser
{
    static QJsonValue parse(const QString& text);
};

// The text split at every ",", empty pieces kept, as strings.
struct ArrayParser
{
    static QJsonValue parse(const QString& text);
};

// One entry of a key list: the key (by its CRC-32) and the parser of its value.
template <class Key, class Parser>
struct query_key
{
    static constexpr std::uint32_t crc = Key::value;
    using parser = Parser;
};

namespace telecom_parsing {

// The URL query, fully decoded, split into items; each item's value typed by `parse_value`
// (key crc, value text, out) which returns false when the key is not in the list.
QJsonObject parse_typed_query(
    const QUrl& url, bool (*parse_value)(std::uint32_t, const QString&, QJsonValue&));

// `query_to_json` of the URL with the body's top-level array (else []) under `member`, as its
// compact text.
json_overlay query_with_body_array(const QUrl& url, const QByteArray& body, const QString& member);

} // namespace telecom_parsing

// The GET parser of a command with its own key list: a listed key's value is read by the
// parser its entry names, any other value stays a string.
template <class... Keys>
struct ParametricGetQueryParser
{
    static QJsonObject parse(const QUrl& url, const QByteArray& = {})
    {
        return telecom_parsing::parse_typed_query(url, &parse_value);
    }

private:
    static bool parse_value(std::uint32_t crc, const QString& text, QJsonValue& out)
    {
        // Every list holds distinct sums, so the first match is the only one.
        return ((crc == Keys::crc ? (out = Keys::parser::parse(text), true) : false) || ...);
    }
};

// The general query and body parsers, for commands without a key list of their own.
struct GeneralGetQueryParser
{
    static QJsonObject parse(const QUrl& url, const QByteArray& body = {});
};

struct GeneralPostQueryParser
{
    static json_overlay parse(const QUrl& url, const QByteArray& body);
};

// The three writes whose body is a JSON array: the query as `query_to_json` reads it, and the
// array under the command's member.
struct BsPostQueryParser
{
    static json_overlay parse(const QUrl& url, const QByteArray& body);
};

struct DevicePostQueryParser
{
    static json_overlay parse(const QUrl& url, const QByteArray& body);
};

struct ClientsPostQueryParser
{
    static json_overlay parse(const QUrl& url, const QByteArray& body);
};
