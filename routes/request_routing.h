#pragma once

#include "app/dependency_container.h"
#include "app/global_conf.h"

#include <memory>

namespace qhttp {
namespace server {
class QHttpRequest;
class QHttpResponse;
} // namespace server
} // namespace qhttp

enum class handler_set_kind { server, gateway, collector };

// GATEWEBFACE off: the server set; on: the gateway set when FORWARD_TORNEL_APPSANDBOX is on,
// else the collector set.
handler_set_kind choose_handler_set(const global_conf& conf);

// Makes the router of the chosen set for one request; the request owns it. The router shares
// the container rather than copying it.
void route_request(std::shared_ptr<const dependency_container> container,
    qhttp::server::QHttpRequest* request, qhttp::server::QHttpResponse* response);
