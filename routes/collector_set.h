#pragma once

#include "handlers/modem/iec104_handlers.h"
#include "handlers/modem/qobi_sender_handlers.h"
#include "handlers/modem/spodes_to_tornel_handlers.h"
#include "handlers/modem/tornel_handlers.h"
#include "router/access_bs.h"
#include "router/forward_handlers.h"
#include "routes/handler_dispatch.h"

// A data collector: the meter driver, the IEC 104 gateway, the SPODES converter, the QOBI
// sender and the telecom API, answered here over AMQP.
// First prefix wins: a path that is a prefix of another stands after it.
using collector_set = handler_set<
    // Telecom command routes ("/telecom/api/..."), seventeen, in the order stats, publishall,
    // time_sync_unlock, messages, stinfo, ststats, sthistory, bs, device, deletemessage,
    // deletedevice, deletestation, send_dl, dl_messages, dl_message_status, devsnr, clients.
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
    // The IEC 104, SPODES-to-Tornel and QOBI-sender endpoints; no path here is a prefix of
    // another.
    IEC104VersionHandler, // "/iec104/api/version"
    IEC104SettingsHandler, // "/iec104/api/settings"
    SpodesToTornelVersionHandler, // "/spodes_to_tornel/version"
    SpodesToTornelMeterTimeoutHandler, // "/spodes_to_tornel/meter_timeout"
    SpodesToTornelRelayExecuteStatusHandler, // "/spodes_to_tornel/relay_execute_status"
    SpodesToTornelTasksMetersSettingsHandler, // "/spodes_to_tornel/tasks"
    SpodesToTornelGrayListMetersSettingsHandler, // "/spodes_to_tornel/gray_list_meters"
    QOBIsenderVersionHandler, // "/qobi_sender/api/version"
    QOBIsenderUspdMetersHandler, // "/qobi_sender/api/uspd_meters"
    SesssionssenderForwardHandler // "/sessions"
    >;
