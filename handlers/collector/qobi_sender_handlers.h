#pragma once

#include "handlers/collector/collector_service_endpoint.h"

// Front end of the QOBI sender ("/qobi_sender/api/"): reads only.
using qobi_sender_endpoint = collector_service_endpoint<&global_conf::R_QOBI_SENDER_ROUTE_KEY>;

class QOBIsenderVersionHandler : public qobi_sender_endpoint
{
public:
    static constexpr const char* handler_path = "/qobi_sender/api/version";
    using qobi_sender_endpoint::qobi_sender_endpoint;
    HandlerResult get(const api_params& params) { return command("version", params); }
};

class QOBIsenderUspdMetersHandler : public qobi_sender_endpoint
{
public:
    static constexpr const char* handler_path = "/qobi_sender/api/uspd_meters";
    using qobi_sender_endpoint::qobi_sender_endpoint;
    HandlerResult get(const api_params& params) { return command("uspd_meters", params); }
};
