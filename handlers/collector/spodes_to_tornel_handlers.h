#pragma once

#include "app/static_tables.h"
#include "handlers/collector/collector_service_endpoint.h"

namespace qhttp {
namespace server {
class QHttpRequest;
}
} // namespace qhttp

// Front end of the SPODES-to-Tornel converter; it refuses a bad body with 400.
using spodes_to_tornel_endpoint
    = collector_service_endpoint<&global_conf::R_SPODES_TO_TORNEL_ROUTE_KEY, 400>;

class SpodesToTornelVersionHandler : public spodes_to_tornel_endpoint
{
public:
    static QString handler_path() { return spodes_to_tornel_prefix + QLatin1String("version"); }
    using spodes_to_tornel_endpoint::spodes_to_tornel_endpoint;
    HandlerResult get(const api_params& params) { return command("version", params); }
};

class SpodesToTornelMeterTimeoutHandler : public spodes_to_tornel_endpoint
{
public:
    static QString handler_path()
    {
        return spodes_to_tornel_prefix + QLatin1String("meter_timeout");
    }
    using spodes_to_tornel_endpoint::spodes_to_tornel_endpoint;
    HandlerResult get(const api_params& params) { return command("get_meter_timeout", params); }
    HandlerResult post(const api_params& params)
    {
        return body_command("set_meter_timeout", params);
    }
};

class SpodesToTornelRelayExecuteStatusHandler : public spodes_to_tornel_endpoint
{
public:
    static QString handler_path()
    {
        return spodes_to_tornel_prefix + QLatin1String("relay_execute_status");
    }
    using spodes_to_tornel_endpoint::spodes_to_tornel_endpoint;
    HandlerResult get(const api_params& params)
    {
        return command("get_relay_execute_status", params);
    }
};

class SpodesToTornelTasksMetersSettingsHandler : public spodes_to_tornel_endpoint
{
public:
    static QString handler_path() { return spodes_to_tornel_prefix + QLatin1String("tasks"); }
    using spodes_to_tornel_endpoint::spodes_to_tornel_endpoint;
    HandlerResult get(const api_params& params) { return command("get_tasks", params); }
    HandlerResult post(const api_params& params) { return body_command("set_tasks", params); }
};

// The one endpoint of these services that serves DELETE, so it dispatches by itself.
class SpodesToTornelGrayListMetersSettingsHandler : public spodes_to_tornel_endpoint
{
public:
    static QString handler_path()
    {
        return spodes_to_tornel_prefix + QLatin1String("gray_list_meters");
    }
    using spodes_to_tornel_endpoint::spodes_to_tornel_endpoint;
    HandlerResult process(qhttp::server::QHttpRequest* request);
    HandlerResult get(const api_params& params) { return command("get_gray_list", params); }
    HandlerResult post(const api_params& params) { return body_command("set_gray_list", params); }
    HandlerResult remove(const api_params& params)
    {
        return body_command("delete_from_gray_list", params);
    }
};
