#include "handlers/modem/collector_service_endpoint.h"

#include "router/http_exception.h"

#include <QJsonDocument>
#include <QJsonParseError>

QJsonObject required_body_object(const QByteArray& body, quint32 refusal_status)
{
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    // An array parses without error but has no object: it is refused like an empty body.
    const QJsonObject object
        = error.error == QJsonParseError::NoError ? document.object() : QJsonObject();
    if (object.isEmpty())
        throw http_exception(
            QStringLiteral("Body is empty or not valid Json Object"), refusal_status);
    return object;
}
