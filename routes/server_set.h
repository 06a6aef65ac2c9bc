#pragma once

#include "handlers/modem/tornel_handlers.h"
#include "router/access_bs.h"
#include "router/forward_handlers.h"
#include "routes/handler_dispatch.h"

// A server: the full API.
// First prefix wins: a path that is a prefix of another stands after it.
using server_set = handler_set<
    // The two "_uspd" telecom routes, then the seventeen telecom command routes in the
    // collector set's order; "/statistic"; the read-parameters handler and the other gateway
    // handlers of the server.
    // "/api/" modem handlers ("/api/dl_queue" before "/api/dl"):
    AccessBS, // "/api/access/bs"
    // "/driver_tornel/api/" handlers ("setting/version_list" before "setting").
    Tornel_SendCmdHandler, // "/driver_tornel/api/cmd/send"
    Tornel_StatusCmdHandler, // "/driver_tornel/api/cmd/status"
    Tornel_ReadSettingsVersionListHandler, // "/driver_tornel/api/setting/version_list"
    Tornel_ReadSettingsHandler, // "/driver_tornel/api/setting"
    Tornel_ReportHistoryHandler, // "/driver_tornel/api/report/history"
    Tornel_ReportEventsHandler, // "/driver_tornel/api/report/events"
    Tornel_el_modems_for_get_index, // "/driver_tornel/api/el/modems_for_get_index"
    Tornel_RAM_indexes, // "/driver_tornel/api/RAM/indexes"
    Tornel_RAM_modems, // "/driver_tornel/api/RAM/modems"
    Tornel_RAM_bs, // "/driver_tornel/api/RAM/bs"
    Tornel_info, // "/driver_tornel/api/info"
    AuthNewForwardHandler // "/new_auth"
    >;
