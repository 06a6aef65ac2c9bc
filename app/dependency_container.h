#pragma once

#include "access/access_helper.h"
#include "amqp/command_client.h"
#include "app/config_factory.h"
#include "app/global_conf.h"
#include "app/logger.h"
#include "app/rabbit_api_config.h"
#include "router/http_context.h"
#include "router/statistic.h"

#include <QObject>

// What routers and handlers are built from. The references point at objects the Application
// owns for the life of the process; the records are those of the ini file's content when the
// container was built.
struct dependency_container
{
    global_conf conf; // read from the ini file when the container is built
    access_helper& access; // the one access store, chosen at start-up
    logger& log; // the logger named ""
    rabbit_api_config rabbit_config; // AMQP_API_SETTINGS as read for this container
    QObject* parent; // the Application
    statistic_map& statistics; // per-client request statistics
    command_client& api_man; // the process-wide main AMQP link, made once at start-up
};

// A container with one request's token context bound in; handlers are constructed from it.
struct request_container : dependency_container
{
    HttpContext context;
};

// Binds the records of one reading of the ini file to the objects the Application owns.
inline dependency_container build_injector(const request_settings& settings, logger& log,
    QObject* parent, statistic_map& statistics, access_helper& access, command_client& api_man)
{
    return dependency_container { *settings.conf, access, log, *settings.rabbit, parent, statistics,
        api_man };
}

inline request_container make_request_container(dependency_container container, HttpContext context)
{
    return request_container { std::move(container), std::move(context) };
}
