#pragma once

#include "router/forward_handlers.h"
#include "routes/handler_dispatch.h"

// A base station's controller with its local web interface on and the application sandbox
// forwarded: base-station commands, local accounts, firmware service and static UI here, and
// the modem, driver, collector-service and telecom families handed to the application service.
// First prefix wins: a path that is a prefix of another stands after it.
using gateway_set = handler_set<
    // The base-station, Dravemon, local login, static and update file and local info handlers
    // join this list, each after every longer path it is a prefix of.
    ApiForwardHandler, // "/api"
    ApiTornelDriverForwardHandler, // "/driver_tornel"
    QOBIsenderForwardHandler, // "/qobi_sender/api/"
    IEC104ForwardHandler, // "/iec104/api/"
    RezavovarForwardHandler, // "/telecom"
    SesssionssenderForwardHandler, // "/sessions"
    AuthForwardHandler, // "/auth"
    SpodesToTornelForwardHandler // "/spodes_to_tornel/"
    >;
