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

// The router of one request over one handler set. It is a child of the request and dies with
// it; it reads the token at once and processes the request when its body is complete.
template <class Container, class... Handlers>
class ApiHandlerRouter : public QObject
{
public:
    using handlers = handler_set<Handlers...>;

    ApiHandlerRouter(const Container& container, qhttp::server::QHttpRequest* request,
        qhttp::server::QHttpResponse* response)
        : QObject(request)
        , container_(container)
        , api_man_(container_.api_man)
        , log_(container_.log)
        , conf_(container_.conf)
        , statistics_(container_.statistics)
        , forward_parent_(forward_parent_of(container_))
    {
        HttpContext context = enter_request(request, response, conf_, log_);
        QObject::connect(request, &qhttp::server::QHttpRequest::end, this,
            create_process_function(request, response, std::move(context)), Qt::DirectConnection);
    }

    std::function<void()> create_process_function(qhttp::server::QHttpRequest* request,
        qhttp::server::QHttpResponse* response, HttpContext context)
    {
        auto ran = std::make_shared<bool>(false);
        return [this, request, response, context, ran] {
            if (*ran)
                return;
            *ran = true;
            process_request(request, response, context);
        };
    }

private:
    // Forward clients belong to the process-wide AMQP link object, as long-lived as anything.
    static QObject* forward_parent_of(Container& container)
    {
        if (auto* object = dynamic_cast<QObject*>(&container.api_man))
            return object;
        return container.parent;
    }

    void process_request(qhttp::server::QHttpRequest* request,
        qhttp::server::QHttpResponse* response, const HttpContext& context)
    {
        request_processing run(
            request, response, context, conf_, log_, statistics_, api_man_, forward_parent_);
        // Copied now: a delivery may re-enter the event loop, and the request may take this
        // router with it before the call returns.
        Container container = container_;
        run.open();
        try {
            const route_match route = handlers::match_handler(run.path());
            if (route.need_token)
                run.enforce_token_rules(route.handler_path);
            const auto request_container
                = make_request_container(std::move(container), run.context());
            const HandlerResult result
                = handlers::invoke_handler(route.index, request, run.log(), request_container);
            run.deliver(result);
        } catch (...) {
            run.fail(std::current_exception());
        }
    }

    Container container_;
    command_client& api_man_;
    logger& log_;
    global_conf conf_;
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
