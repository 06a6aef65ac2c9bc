#pragma once

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
    AuthNewForwardHandler // "/new_auth"
    >;
