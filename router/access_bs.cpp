#include "router/access_bs.h"

#include "http/qhttp_server.h"
#include "router/http_exception.h"
#include "router/method_not_found.h"

HandlerResult AccessBS::process(qhttp::server::QHttpRequest* request)
{
    switch (request->method()) {
    case qhttp::EHTTP_GET:
    case qhttp::EHTTP_POST:
    case qhttp::EHTTP_PUT:
        throw http_exception(QString(), 404);
    default:
        throw_method_not_found(request);
    }
}
