#include "handlers/driver/tornel_params.h"

#include "http/qhttp_hex_digit.h"
#include "router/query_params.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QVariantMap>

namespace {

// Percent-decoding that leaves a "%" without two hex digits after it as it is, so "100%" or
// "50% off" in a value survive.
QByteArray decode_valid_escapes(const QByteArray& text)
{
    if (!text.contains('%'))
        return text;
    QByteArray out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const int high = text[i] == '%' && i + 2 < text.size() ? qhttp::hex_digit(text[i + 1]) : -1;
        const int low = high < 0 ? -1 : qhttp::hex_digit(text[i + 2]);
        if (low < 0) {
            out.append(text[i]);
            continue;
        }
        out.append(char(high * 16 + low));
        i += 2;
    }
    return out;
}

// A POST body: percent-decoded, cut to Latin-1 (what lies outside becomes "?"), then a JSON
// object whose values are taken as text, or else a form.
std::map<QString, QString> body_params(const QByteArray& body)
{
    const QString decoded = QString::fromUtf8(decode_valid_escapes(body));
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(decoded.toLatin1(), &error);
    if (error.error != QJsonParseError::NoError)
        return parse_query_map(decoded);
    std::map<QString, QString> entries;
    // Numbers come out as 5 rather than 5.0, null, arrays and objects as empty texts.
    const QVariantMap values = document.object().toVariantMap();
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        entries[it.key()] = it.value().toString();
    return entries;
}

} // namespace

std::map<QString, QString> make_tornel_params(
    qhttp::THttpMethod method, const QUrl& url, const QByteArray& body)
{
    switch (method) {
    case qhttp::EHTTP_GET:
        return parse_query_map(url.query(QUrl::FullyDecoded));
    case qhttp::EHTTP_POST:
        return body_params(body);
    default:
        return {};
    }
}

tornel_params::tornel_params(const QStringList& keys, const std::map<QString, QString>& entries)
{
    for (const auto& entry : entries) {
        if (keys.contains(entry.first))
            values_.insert(entry);
    }
}

std::optional<QString> tornel_params::value(const QString& key) const
{
    const auto it = values_.find(key);
    if (it == values_.end())
        return std::nullopt;
    return it->second;
}
