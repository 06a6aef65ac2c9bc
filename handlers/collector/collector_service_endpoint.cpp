#include "handlers/collector/collector_service_endpoint.h"

#include "router/http_exception.h"

QJsonObject required_body_object(const QByteArray& body, quint32 refusal_status)
{
    // An array parses without error but has no object: it is refused like an empty body.
    const QJsonObject object = json_body_object(body).value_or(QJsonObject());
    if (object.isEmpty())
        throw http_exception(
            QStringLiteral("Body is empty or not valid Json Object"), refusal_status);
    return object;
}
