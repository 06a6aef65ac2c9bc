#pragma once

#include "handlers/modem/downlink_handlers.h"
#include "handlers/modem/modem_api_handlers.h"
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
    SettingHandler, // "/api/setting"
    CalibHandler, // "/api/calib"
    RollHandler, // "/api/roll"
    DeviceHandler, // "/api/device"
    EAVHandler, // "/api/eav"
    AppIDsHandler, // "/api/app_ids"
    MetadataHandler, // "/api/metadata"
    ReparseHadler, // "/api/reparse"
    CheckIDs, // "/api/check_ids"
    CustomHandler, // "/api/custom"
    AppInfoHandler, // "/api/info", no token
    DownlinkQueueHandler, // "/api/dl_queue"
    DownlinkHandler, // "/api/dl"
    AccessBS, // "/api/access/bs"
    // "/driver_tornel/api/" handlers ("setting/version_list" before "setting").
    AuthNewForwardHandler // "/new_auth"
    >;
