#pragma once

#include "handlers/modem/modem_handler_frame.h"

#include <array>

// Downlink messages: read a modem's messages or their status by database id, send one message
// to the listed modems.
class DownlinkHandler : public modem_handler_frame
{
public:
    static constexpr const char* handler_path = "/api/dl";
    static constexpr bool need_token = true;
    static constexpr std::array<const char*, 13> param_keys { "modem_id", "timeout", "db_id",
        "route_key", "from", "to", "not_acked", "limit", "f_ack", "f_system", "station_id",
        "frequency", "dl_phy" };
    using modem_handler_frame::modem_handler_frame;
    HandlerResult get(const api_params& params);
    HandlerResult post(const api_params& params);
};

// The downlink queue: GET reads it (an administrator as the back-end keeps it, a restricted
// caller for its own modems, counted or paged here), POST hands a change to the back-end.
class DownlinkQueueHandler : public modem_handler_frame
{
public:
    static constexpr const char* handler_path = "/api/dl_queue";
    static constexpr bool need_token = true;
    static constexpr std::array<const char*, 5> param_keys { "modem_id", "route_key", "offset",
        "limit", "mode" };
    using modem_handler_frame::modem_handler_frame;
    HandlerResult get(const api_params& params);
    HandlerResult post(const api_params& params);
};
