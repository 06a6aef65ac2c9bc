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
#include <functional>
#include <memory>
#include <optional>

// The router of one request over one handler set. It is a child of the request and dies with
// it; it reads the token at once and processes the request when its body is complete.
template <class Container, class... Handlers>
class ApiHandlerRouter : public QObject
{
public:
    using handlers = handler_set<Handlers...>;

    // The container is shared, not copied: routers only read it, and it changes only when the
    // ini file does.
    ApiHandlerRouter(std::shared_ptr<const Container> container,
        qhttp::server::QHttpRequest* request, qhttp::server::QHttpResponse* response)
        : QObject(request)
        , container_(std::move(container))
        , api_man_(container_->api_man)
        , log_(container_->log)
        , statistics_(container_->statistics)
        , forward_parent_(forward_parent_of(*container_))
    {
        HttpContext context = enter_request(request, response, conf(), log_);
        QObject::connect(request, &qhttp::server::QHttpRequest::end, this,
            create_process_function(request, response, std::move(context)), Qt::DirectConnection);
    }

    ApiHandlerRouter(const Container& container, qhttp::server::QHttpRequest* request,
        qhttp::server::QHttpResponse* response)
        : ApiHandlerRouter(std::make_shared<const Container>(container), request, response)
    { }

    std::function<void()> create_process_function(qhttp::server::QHttpRequest* request,
        qhttp::server::QHttpResponse* response, HttpContext context)
    {
        // Runs once: the context moves on into the processing.
        return [this, request, response, context = std::move(context), ran = false]() mutable {
            if (ran)
                return;
            ran = true;
            process_request(request, response, std::move(context));
        };
    }

private:
    // Forward clients belong to the process-wide AMQP link object, as long-lived as anything.
    static QObject* forward_parent_of(const Container& container)
    {
        if (auto* object = dynamic_cast<QObject*>(&container.api_man))
            return object;
        return container.parent;
    }

    const global_conf& conf() const { return container_->conf; }

    void process_request(qhttp::server::QHttpRequest* request,
        qhttp::server::QHttpResponse* response, HttpContext context)
    {
        // Held by the run itself: a delivery may re-enter the event loop, and the request may
        // take this router with it before the call returns.
        const std::shared_ptr<const Container> container = container_;
        request_processing run(request, response, std::move(context),
            std::shared_ptr<const global_conf>(container, &container->conf), log_, statistics_,
            api_man_, forward_parent_);
        run.open();
        try {
            const std::optional<route_match> route = handlers::find_handler(run.path());
            if (!route) {
                // The commonest refusal; answered without the cost of unwinding.
                run.fail(handler_not_found());
                return;
            }
            if (route->need_token)
                run.enforce_token_rules(route->handler_path);
            const auto request_container = make_request_container(*container, run.context());
            const HandlerResult result
                = handlers::invoke_handler(route->index, request, run.log(), request_container);
            run.deliver(result);
        } catch (...) {
            run.fail(std::current_exception());
        }
    }

    const std::shared_ptr<const Container> container_;
    command_client& api_man_;
    logger& log_;
    statistic_map& statistics_;
    QObject* forward_parent_;
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
