#include "handlers/driver/tornel_params.h"

#include "http/qhttp_hex_digit.h"
#include "router/compact_json.h"
#include "router/query_params.h"

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
// object whose values are taken as text, or else a form. The body is read without a document
// of it, so its size alone, not its shape, says what it costs.
std::map<QString, QString> body_params(
    const QByteArray& body, const std::function<bool(QStringView)>& keep)
{
    QString decoded = QString::fromUtf8(decode_valid_escapes(body));
    const compact_json json(decoded.toLatin1());
    if (!json.valid())
        return parse_query_map(decoded, keep);
    decoded = QString();
    std::map<QString, QString> entries;
    // Numbers come out as 5 rather than 5.0, null, arrays and objects as empty texts.
    for (int i = 0; i < json.size(); ++i) {
        QString key = json.key(i);
        if (keep(key))
            entries[std::move(key)] = json.variant_text(i);
    }
    return entries;
}

} // namespace

std::map<QString, QString> make_tornel_params(
    qhttp::THttpMethod method, const QUrl& url, const QByteArray& body, const QStringList* keys)
{
    const auto keep = [keys](QStringView key) { return !keys || keys->contains(key); };
    switch (method) {
    case qhttp::EHTTP_GET:
        return parse_query_map(url.query(QUrl::FullyDecoded), keep);
    case qhttp::EHTTP_POST:
        return body_params(body, keep);
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
