#pragma once

#include "handlers/collector/iec104_handlers.h"
#include "handlers/collector/qobi_sender_handlers.h"
#include "handlers/collector/spodes_to_tornel_handlers.h"
#include "handlers/driver/tornel_handlers.h"
#include "handlers/modem/downlink_handlers.h"
#include "handlers/modem/modem_api_handlers.h"
#include "handlers/telecom/telecom_command_table.h"
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
