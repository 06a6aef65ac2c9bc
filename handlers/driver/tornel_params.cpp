#include "handlers/driver/tornel_params.h"

#include "http/qhttp_hex_digit.h"
#include "router/query_params.h"
#include "json/compact_json.h"

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

bool is_ascii(const char* bytes, int size)
{
    uchar seen = 0;
    for (int i = 0; i < size; ++i)
        seen |= uchar(bytes[i]);
    return seen < 0x80;
}

// A POST body: percent-decoded, read as UTF-8 up to a first NUL (as QString::fromUtf8 reads a
// QByteArray), cut to Latin-1 (what lies outside becomes "?"), then a JSON object whose values
// are taken as text, or else a form. ASCII, the usual body, is all of that as it is, so it is
// neither narrowed again nor widened but for the values kept. The body is read without a document
// of it, so its size alone, not its shape, says what it costs.
std::map<QString, QString> body_params(
    const QByteArray& body, const std::function<bool(QStringView)>& keep)
{
    QByteArray bytes = decode_valid_escapes(body);
    bytes.truncate(int(qstrnlen(bytes.constData(), uint(bytes.size()))));
    const bool ascii = is_ascii(bytes.constData(), bytes.size());
    QString text; // the body as text, when made
    if (!ascii)
        text = QString::fromUtf8(bytes);
    const compact_json json(ascii ? bytes : text.toLatin1(), compact_json::reading::members);
    if (!json.valid())
        return ascii ? parse_query_map(QLatin1String(bytes), keep) : parse_query_map(text, keep);
    bytes = QByteArray();
    text = QString();
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
