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
// owns for the life of the process, and at the records of one reading of the ini file, which
// `settings` keeps alive: a copy of the container shares those records and costs no copy of
// them, however many requests and handlers hold one.
struct dependency_container
{
    const global_conf& conf; // GENERAL_SETTINGS as read for this container
    access_helper& access; // the one access store, chosen at start-up
    logger& log; // the logger named ""
    const rabbit_api_config& rabbit_config; // AMQP_API_SETTINGS as read for this container
    QObject* parent; // the Application
    statistic_map& statistics; // per-client request statistics
    command_client& api_man; // the process-wide main AMQP link, made once at start-up
    // The owner of `conf` and `rabbit_config` when they come from the ini file; empty when the
    // maker of the container keeps them alive itself.
    request_settings settings = {};
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
        api_man, settings };
}

inline request_container make_request_container(
    const dependency_container& container, HttpContext context)
{
    return request_container { container, std::move(context) };
}
