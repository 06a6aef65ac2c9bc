#include "handlers/telecom/telecom_query_parsers.h"

#include "router/json_helpers.h"
#include "router/query_params.h"

QJsonValue IntParser::parse(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

QJsonValue ArrayParser::parse(const QString& text)
{
    return split_to_json_array(text);
}

namespace telecom_parsing {

QJsonObject parse_typed_query(
    const QUrl& url, bool (*parse_value)(std::uint32_t, const QString&, QJsonValue&))
{
    QJsonObject result;
    const auto items = parse_query_map(url.query(QUrl::FullyDecoded));
    for (const auto& [key, text] : items) {
        QJsonValue value;
        if (!parse_value(crc32_of(key), text, value))
            value = text;
        result.insert(key, value);
    }
    return result;
}

json_overlay query_with_body_array(const QUrl& url, const QByteArray& body, const QString& member)
{
    json_overlay result(query_to_json(url));
    const compact_json array(body);
    result.insert_text(member, array.is_array() ? array.text() : QByteArrayLiteral("[]"));
    return result;
}

} // namespace telecom_parsing

QJsonObject GeneralGetQueryParser::parse(const QUrl& url, const QByteArray&)
{
    return query_to_json(url);
}

json_overlay GeneralPostQueryParser::parse(const QUrl& url, const QByteArray& body)
{
    return request_params(url, body);
}

json_overlay BsPostQueryParser::parse(const QUrl& url, const QByteArray& body)
{
    return telecom_parsing::query_with_body_array(url, body, QStringLiteral("bs_array"));
}

json_overlay DevicePostQueryParser::parse(const QUrl& url, const QByteArray& body)
{
    return telecom_parsing::query_with_body_array(url, body, QStringLiteral("device_array"));
}

json_overlay ClientsPostQueryParser::parse(const QUrl& url, const QByteArray& body)
{
    return telecom_parsing::query_with_body_array(url, body, QStringLiteral("clients_devices"));
}
