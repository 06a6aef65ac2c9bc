#include "routes/request_routing.h"

#include "router/api_handler_router.h"
#include "routes/collector_set.h"
#include "routes/gateway_set.h"
#include "routes/server_set.h"

handler_set_kind choose_handler_set(const global_conf& conf)
{
    if (!conf.GATEWEBFACE)
        return handler_set_kind::server;
    return conf.FORWARD_TORNEL_APPSANDBOX ? handler_set_kind::gateway : handler_set_kind::collector;
}

void route_request(std::shared_ptr<const dependency_container> container,
    qhttp::server::QHttpRequest* request, qhttp::server::QHttpResponse* response)
{
    switch (choose_handler_set(container->conf)) {
    case handler_set_kind::server:
        router_for_t<dependency_container, server_set>::route(
            std::move(container), request, response);
        break;
    case handler_set_kind::gateway:
        router_for_t<dependency_container, gateway_set>::route(
            std::move(container), request, response);
        break;
    case handler_set_kind::collector:
        router_for_t<dependency_container, collector_set>::route(
            std::move(container), request, response);
        break;
    }
}
