#pragma once

#include "app/global_conf.h"
#include "router/http_context.h"

class logger;

namespace qhttp {
namespace server {
class QHttpRequest;
class QHttpResponse;
} // namespace server
} // namespace qhttp

// The start of every request's road, before its body has arrived: asks for the whole body,
// logs the request, reads its token and sets the headers every answer carries.
HttpContext enter_request(qhttp::server::QHttpRequest* request,
    qhttp::server::QHttpResponse* response, const global_conf& conf, logger& log);
