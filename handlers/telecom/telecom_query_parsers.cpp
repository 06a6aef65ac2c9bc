#include "handlers/telecom/telecom_query_parsers.h"

#include "router/json_helpers.h"
#include "router/query_params.h"

#include <QJsonDocument>

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

QJsonObject query_with_body_array(const QUrl& url, const QByteArray& body, const QString& member)
{
    QJsonObject result = query_to_json(url);
    result.insert(member, QJsonDocument::fromJson(body).array());
    return result;
}

} // namespace telecom_parsing

QJsonObject GeneralGetQueryParser::parse(const QUrl& url, const QByteArray&)
{
    return query_to_json(url);
}

QJsonObject GeneralPostQueryParser::parse(const QUrl& url, const QByteArray& body)
{
    return request_params(url, body);
}

QJsonObject BsPostQueryParser::parse(const QUrl& url, const QByteArray& body)
{
    return telecom_parsing::query_with_body_array(url, body, QStringLiteral("bs_array"));
}

QJsonObject DevicePostQueryParser::parse(const QUrl& url, const QByteArray& body)
{
    return telecom_parsing::query_with_body_array(url, body, QStringLiteral("device_array"));
}

QJsonObject ClientsPostQueryParser::parse(const QUrl& url, const QByteArray& body)
{
    return telecom_parsing::query_with_body_array(url, body, QStringLiteral("clients_devices"));
}
