#include "handlers/collector/spodes_to_tornel_handlers.h"

#include "http/qhttp_server.h"
#include "routes/handler_dispatch.h"

HandlerResult SpodesToTornelGrayListMetersSettingsHandler::process(
    qhttp::server::QHttpRequest* request)
{
    switch (request->method()) {
    case qhttp::EHTTP_GET:
        return get(parse_params(*this, request));
    case qhttp::EHTTP_POST:
        return post(parse_params(*this, request));
    case qhttp::EHTTP_DELETE:
        return remove(parse_params(*this, request));
    case qhttp::EHTTP_PUT:
        throw http_exception(QString(), 404);
    default:
        throw_method_not_found(request);
    }
}
