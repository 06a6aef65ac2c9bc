#include "router/query_params.h"

#include "router/list_items.h"
#include "json/json_document.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace {

// The value tests below are hand-written rather than regular expressions: a backtracking
// matcher recurses per character and overflows the stack on megabyte-long values.

bool is_word(QChar c)
{
    const ushort u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_';
}

// The values are matched as their UTF-8 bytes, where white space is ASCII white space only
// and only LF and CR end a line.
bool is_space(QChar c)
{
    const ushort u = c.unicode();
    return u == ' ' || (u >= 0x09 && u <= 0x0D);
}

bool is_line_terminator(QChar c)
{
    const ushort u = c.unicode();
    return u == 0x000A || u == 0x000D;
}

int skip_words(const QString& s, int i)
{
    while (i < s.size() && is_word(s.at(i)))
        ++i;
    return i;
}

// The whole value is  \w+ ( , \s* \w+ )+
bool is_word_list(const QString& s)
{
    int i = skip_words(s, 0);
    if (i == 0)
        return false;
    int groups = 0;
    while (i < s.size()) {
        if (s.at(i) != QLatin1Char(','))
            return false;
        ++i;
        while (i < s.size() && is_space(s.at(i)))
            ++i;
        const int end = skip_words(s, i);
        if (end == i)
            return false;
        i = end;
        ++groups;
    }
    return groups > 0;
}

// The whole value is  \{ .+ \}  with no line terminator inside.
bool is_brace_group(const QString& s)
{
    if (s.size() < 3 || s.front() != QLatin1Char('{') || s.back() != QLatin1Char('}'))
        return false;
    for (int i = 1; i < s.size() - 1; ++i) {
        if (is_line_terminator(s.at(i)))
            return false;
    }
    return true;
}

bool is_plain_text(const QString& s)
{
    for (QChar c : s) {
        switch (c.unicode()) {
        case '"':
        case '^':
        case '\'':
        case ',':
        case '.':
        case '*':
            return false;
        default:
            break;
        }
    }
    return true;
}

QJsonValue parse_or_null(const QString& text, bool want_array)
{
    QJsonParseError error;
    const QJsonDocument doc = read_json_document(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError)
        return QJsonValue(QJsonValue::Null);
    if (want_array)
        return doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(QJsonValue::Null);
    return doc.isObject() ? QJsonValue(doc.object()) : QJsonValue(QJsonValue::Null);
}

} // namespace

std::map<QString, QString> parse_query_map(const QString& text)
{
    return parse_query_map(text, [](QStringView) { return true; });
}

namespace {

// The key as `keep` reads it: a Latin-1 one widened into `widened`, whose room is used again.
QStringView key_text(QStringView key, QString&)
{
    return key;
}

QStringView key_text(QLatin1String key, QString& widened)
{
    widened = key;
    return widened;
}

QString copy_of(QStringView text)
{
    return text.toString();
}

QString copy_of(QLatin1String text)
{
    return QString(text);
}

template <class Text>
std::map<QString, QString> query_items(Text text, const std::function<bool(QStringView)>& keep)
{
    // Only what is kept is copied: a long value once, a skipped item not at all.
    std::map<QString, QString> items;
    QString widened;
    for_each_item(text, QLatin1Char('&'), [&](Text item) {
        const qsizetype equals = index_of(item, QLatin1Char('='));
        if (equals < 0 || index_of(item, QLatin1Char('='), equals + 1) >= 0)
            return;
        const Text key = item.left(equals);
        if (keep(key_text(key, widened)))
            items[copy_of(key)] = copy_of(item.mid(equals + 1));
    });
    return items;
}

} // namespace

std::map<QString, QString> parse_query_map(
    const QString& text, const std::function<bool(QStringView)>& keep)
{
    return query_items(QStringView(text), keep);
}

std::map<QString, QString> parse_query_map(
    QLatin1String text, const std::function<bool(QStringView)>& keep)
{
    return query_items(text, keep);
}

QJsonObject query_to_json(const QUrl& url)
{
    QJsonObject result;
    const auto items = parse_query_map(url.query(QUrl::FullyDecoded));
    for (const auto& [key, value] : items) {
        if (is_word_list(value))
            result.insert(key, parse_or_null(QLatin1Char('[') + value + QLatin1Char(']'), true));
        else if (is_brace_group(value))
            result.insert(key, parse_or_null(value, false));
        else if (is_plain_text(value))
            result.insert(key, value);
    }
    return result;
}

json_overlay request_params(const QUrl& url, const QByteArray& body)
{
    json_overlay result { compact_json(body) };
    result.insert_all(query_to_json(url));
    return result;
}
