#pragma once

#include "amqp/command_client.h"
#include "app/global_conf.h"
#include "app/logger.h"
#include "http/qhttp_server.h"
#include "router/request_entry.h"
#include "router/request_processing.h"
#include "router/statistic.h"
#include "routes/handler_dispatch.h"

#include <QObject>
#include <memory>
#include <optional>
#include <utility>

// The router of one request over one handler set. It reads the token at once and processes
// the request when its body is complete. It is a plain value, not an object of its own: it
// lives in the request's connection to its `end` signal, so it dies with the request, and it
// costs the request no allocation beyond that connection.
template <class Container, class... Handlers>
class ApiHandlerRouter
{
public:
    using handlers = handler_set<Handlers...>;

    // Starts the road of `request`. The container is shared, not copied: routers only read it,
    // and a new one is made only when the ini file changes.
    static void route(std::shared_ptr<const Container> container,
        qhttp::server::QHttpRequest* request, qhttp::server::QHttpResponse* response)
    {
        QObject::connect(request, &qhttp::server::QHttpRequest::end, request,
            ApiHandlerRouter(std::move(container), request, response), Qt::DirectConnection);
    }

    static void route(const Container& container, qhttp::server::QHttpRequest* request,
        qhttp::server::QHttpResponse* response)
    {
        route(std::make_shared<const Container>(container), request, response);
    }

    ApiHandlerRouter(ApiHandlerRouter&&) = default;
    ApiHandlerRouter& operator=(ApiHandlerRouter&&) = delete;

    // The end of the request's body: runs the processing, once.
    void operator()()
    {
        if (!container_)
            return;
        // Held by the run itself: a delivery may re-enter the event loop, and the request may
        // go, taking this router with it, before the call returns.
        const std::shared_ptr<const Container> container = std::move(container_);
        process_request(container, request_, response_, std::move(context_));
    }

private:
    ApiHandlerRouter(std::shared_ptr<const Container> container,
        qhttp::server::QHttpRequest* request, qhttp::server::QHttpResponse* response)
        : container_(std::move(container))
        , request_(request)
        , response_(response)
        , context_(enter_request(request, response, container_->conf, container_->log))
    { }

    void process_request(const std::shared_ptr<const Container>& container,
        qhttp::server::QHttpRequest* request, qhttp::server::QHttpResponse* response,
        HttpContext context)
    {
        request_processing run(request, response, std::move(context),
            std::shared_ptr<const global_conf>(container, &container->conf), container->log,
            container->statistics, container->api_man, container->parent);
        run.open(gone_notice_);
        try {
            const std::optional<route_match> route = handlers::find_handler(run.path());
            if (!route) {
                // The commonest refusal; answered without the cost of unwinding.
                run.fail(handler_not_found());
                return;
            }
            if (route->need_token)
                run.enforce_token_rules(route->handler_path);
            const request_container handler_container
                = make_request_container(*container, run.context());
            run.deliver(
                handlers::invoke_handler(route->index, request, run.log(), handler_container));
        } catch (...) {
            run.fail(std::current_exception());
        }
    }

    std::shared_ptr<const Container> container_; // empty once the processing has run
    qhttp::server::QHttpRequest* request_;
    qhttp::server::QHttpResponse* response_;
    HttpContext context_;
    // Tells the run's callbacks, when the router goes with its request, that the request is gone.
    request_gone_notice gone_notice_;
};

// The router type of a handler list.
template <class Container, class Set>
struct router_for;
template <class Container, class... Handlers>
struct router_for<Container, handler_set<Handlers...>>
{
    using type = ApiHandlerRouter<Container, Handlers...>;
};
template <class Container, class Set>
using router_for_t = typename router_for<Container, Set>::type;
