#pragma once

#include "handlers/collector/collector_service_endpoint.h"

// Front end of the IEC 60870-5-104 gateway ("/iec104/api/").
using iec104_endpoint = collector_service_endpoint<&global_conf::R_IEC104_ROUTE_KEY>;

class IEC104VersionHandler : public iec104_endpoint
{
public:
    static constexpr const char* handler_path = "/iec104/api/version";
    using iec104_endpoint::iec104_endpoint;
    HandlerResult get(const api_params& params) { return command("version", params); }
};

class IEC104SettingsHandler : public iec104_endpoint
{
public:
    static constexpr const char* handler_path = "/iec104/api/settings";
    static constexpr std::array<const char*, 3> param_keys { "route_key", "station_id",
        "timestamp" };
    using iec104_endpoint::iec104_endpoint;
    // "iec_data_read" with the station and time asked for, each only when given.
    HandlerResult get(const api_params& params);
    // "iec_data_write" with the body object.
    HandlerResult post(const api_params& params);
};
