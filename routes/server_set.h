#pragma once

#include "handlers/driver/tornel_handlers.h"
#include "handlers/modem/downlink_handlers.h"
#include "handlers/modem/modem_api_handlers.h"
#include "handlers/telecom/telecom_command_table.h"
#include "handlers/telecom/user_statistic_handler.h"
#include "router/access_bs.h"
#include "router/forward_handlers.h"
#include "routes/handler_dispatch.h"

// A server: the full API.
// First prefix wins: a path that is a prefix of another stands after it.
using server_set = handler_set<
    // The two "_uspd" telecom routes, then the seventeen telecom command routes in the
    // collector set's order; "/statistic"; the read-parameters handler and the other gateway
    // handlers of the server.
    TelecomSendDlUspd, // "/telecom/api/send_dl_uspd"
    TelecomDlMessageStatusUspd, // "/telecom/api/dl_message_status_uspd"
    TelecomStats, // "/telecom/api/stats"
    TelecomPublishAll, // "/telecom/api/publishall"
    TelecomTimeSyncUnlock, // "/telecom/api/time_sync_unlock"
    TelecomMessages, // "/telecom/api/messages"
    TelecomStinfo, // "/telecom/api/stinfo"
    TelecomStStats, // "/telecom/api/ststats"
    TelecomStHistory, // "/telecom/api/sthistory"
    TelecomBs, // "/telecom/api/bs"
    TelecomDevice, // "/telecom/api/device"
    TelecomDeleteMessage, // "/telecom/api/deletemessage"
    TelecomDeleteDevice, // "/telecom/api/deletedevice"
    TelecomDeleteStation, // "/telecom/api/deletestation"
    TelecomSendDl, // "/telecom/api/send_dl"
    TelecomDlMessages, // "/telecom/api/dl_messages"
    TelecomDlMessageStatus, // "/telecom/api/dl_message_status"
    TelecomDevSnr, // "/telecom/api/devsnr"
    TelecomClients, // "/telecom/api/clients"
    UserStatisticHandler, // "/statistic"
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
