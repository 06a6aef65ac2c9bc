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

// What routers and handlers are built from. Copied for every request; the references point at
// objects the Application owns for the life of the process.
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

// Reads the ini file again: the logger is created on first use and returned unchanged after.
inline dependency_container build_injector(config_factory& factory, QObject* parent,
    statistic_map& statistics, access_helper& access, command_client& api_man)
{
    logger& log = factory.get_logger("");
    rabbit_api_config rabbit_config = factory.read_rabbit_api_config();
    global_conf conf = factory.read_global_conf();
    return dependency_container { std::move(conf), access, log, std::move(rabbit_config), parent,
        statistics, api_man };
}

inline request_container make_request_container(dependency_container container, HttpContext context)
{
    return request_container { std::move(container), std::move(context) };
}
