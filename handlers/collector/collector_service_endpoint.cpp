#include "handlers/collector/collector_service_endpoint.h"

#include "router/http_exception.h"
#include "json/compact_json.h"

command_data required_body_object(const QByteArray& body, quint32 refusal_status)
{
    // An array parses without error but has no object: it is refused like an empty body.
    const compact_json json(body);
    if (!json.is_object() || json.size() == 0)
        throw http_exception(
            QStringLiteral("Body is empty or not valid Json Object"), refusal_status);
    return command_data::ready_object(json.text());
}
