#pragma once

#include "handlers/telecom/cmd_api_handler.h"
#include "handlers/telecom/station_stats_merge.h"
#include "handlers/telecom/telecom_key_lists.h"
#include "handlers/telecom/telecom_list_merges.h"
#include "handlers/telecom/telecom_reply_rules.h"
#include "handlers/telecom/telecom_stats.h"

// The telecom commands: one policy per command and method, then one route per path.

#define TELECOM_COMMAND(path_tail, command_name)                                                   \
    static constexpr const char* tail = path_tail;                                                 \
    static constexpr const char* command = command_name

struct StatApiHandler : telecom_policy<telecom_stats_merge, api_key_rule::none>
{
    TELECOM_COMMAND("stats", "stats");
};
struct PublishAllApiHandler : telecom_policy<object_list_merge>
{
    TELECOM_COMMAND("publishall", "publishall");
};
struct TimeSincUnLockApiHandler : telecom_policy<object_list_merge>
{
    TELECOM_COMMAND("time_sync_unlock", "time_sync_unlock");
};
struct MessagesApiHandler : telecom_policy<message_list_merge>
{
    TELECOM_COMMAND("messages", "messages");
};
struct BsStatsApiHandler : telecom_policy<station_stats_merge, api_key_rule::keep_callers>
{
    TELECOM_COMMAND("stinfo", "stinfo");
};
struct StationStatsApiHandler : telecom_policy<first_nonempty_array_reply>
{
    TELECOM_COMMAND("ststats", "ststats");
};
struct StationHistoryApiHandler : telecom_policy<first_nonempty_array_reply>
{
    TELECOM_COMMAND("sthistory", "sthistory");
};
struct BsReadApiHandler : telecom_policy<first_nonempty_object_reply, api_key_rule::keep_callers>
{
    TELECOM_COMMAND("bs", "bs");
};
struct BsWriteApiHandler : telecom_policy<wait_all_replies>
{
    TELECOM_COMMAND("bs", "bs_write");
};
struct DeviceReadApiHandler
    : telecom_policy<device_list_merge, api_key_rule::keep_callers, /*paged=*/true>
{
    TELECOM_COMMAND("device", "device");
};
struct DeviceWriteApiHandler : telecom_policy<wait_all_replies>
{
    TELECOM_COMMAND("device", "device_write");
};
struct DeleteMessageApiHandler : telecom_policy<wait_all_replies>
{
    TELECOM_COMMAND("deletemessage", "deletemessage");
};
struct DeleteDeviceApiHandler : telecom_policy<wait_all_replies>
{
    TELECOM_COMMAND("deletedevice", "deletedevice");
};
struct DeleteStationApiHandler : telecom_policy<wait_all_replies>
{
    TELECOM_COMMAND("deletestation", "deletestation");
};
struct SendDownlinkHandlerTelecom : telecom_policy<first_nonempty_object_reply>
{
    TELECOM_COMMAND("send_dl", "send_dl");
};
struct DlMessagesApiHandler : telecom_policy<dl_message_list_merge>
{
    TELECOM_COMMAND("dl_messages", "dl_messages");
};
struct DlMessageStatusApiHandler : telecom_policy<first_nonempty_object_reply>
{
    TELECOM_COMMAND("dl_message_status", "dl_message_status");
};
struct DevSNRApiHandler : telecom_policy<first_nonempty_object_reply>
{
    TELECOM_COMMAND("devsnr", "devsnr");
};
struct ClientsApiHandler : telecom_policy<wait_all_replies>
{
    TELECOM_COMMAND("clients", "clients");
};
struct SendDownlinkHandlerTelecomUSPD : telecom_policy<first_reply>
{
    TELECOM_COMMAND("send_dl", "send_dl");
};
struct DlMessageStatusApiHandlerUSPD : telecom_policy<first_reply>
{
    TELECOM_COMMAND("dl_message_status", "dl_message_status");
};

#undef TELECOM_COMMAND

// The routes, "/telecom/api/" + tail ("_uspd" routes: + "_uspd").
using TelecomStats
    = CmdApiHandler<StatApiHandler, StatApiHandler, GeneralGetQueryParser, GeneralPostQueryParser>;
using TelecomPublishAll = CmdApiHandler<PublishAllApiHandler, PublishAllApiHandler,
    telecom_query::publishall, GeneralPostQueryParser>;
using TelecomTimeSyncUnlock = CmdApiHandler<TimeSincUnLockApiHandler, TimeSincUnLockApiHandler,
    telecom_query::time_sync_unlock, GeneralPostQueryParser>;
using TelecomMessages = CmdApiHandler<MessagesApiHandler, MessagesApiHandler,
    telecom_query::messages, GeneralPostQueryParser>;
using TelecomStinfo = CmdApiHandler<BsStatsApiHandler, BsStatsApiHandler, telecom_query::stinfo,
    GeneralPostQueryParser>;
using TelecomStStats = CmdApiHandler<StationStatsApiHandler, StationStatsApiHandler,
    telecom_query::ststats, GeneralPostQueryParser>;
using TelecomStHistory = CmdApiHandler<StationHistoryApiHandler, StationHistoryApiHandler,
    telecom_query::sthistory, GeneralPostQueryParser>;
using TelecomBs
    = CmdApiHandler<BsReadApiHandler, BsWriteApiHandler, telecom_query::bs, BsPostQueryParser>;
using TelecomDevice = CmdApiHandler<DeviceReadApiHandler, DeviceWriteApiHandler,
    telecom_query::device, DevicePostQueryParser>;
using TelecomDeleteMessage = CmdApiHandler<DeleteMessageApiHandler, DeleteMessageApiHandler,
    telecom_query::deletemessage, GeneralPostQueryParser>;
using TelecomDeleteDevice = CmdApiHandler<DeleteDeviceApiHandler, DeleteDeviceApiHandler,
    telecom_query::deletedevice, GeneralPostQueryParser>;
using TelecomDeleteStation = CmdApiHandler<DeleteStationApiHandler, DeleteStationApiHandler,
    telecom_query::deletestation, GeneralPostQueryParser>;
using TelecomSendDl = CmdApiHandler<SendDownlinkHandlerTelecom, SendDownlinkHandlerTelecom,
    telecom_query::send_dl, GeneralPostQueryParser>;
using TelecomDlMessages = CmdApiHandler<DlMessagesApiHandler, DlMessagesApiHandler,
    telecom_query::dl_messages, GeneralPostQueryParser>;
using TelecomDlMessageStatus = CmdApiHandler<DlMessageStatusApiHandler, DlMessageStatusApiHandler,
    GeneralGetQueryParser, GeneralPostQueryParser>;
using TelecomDevSnr = CmdApiHandler<DevSNRApiHandler, DevSNRApiHandler, telecom_query::devsnr,
    GeneralPostQueryParser>;
using TelecomClients = CmdApiHandler<ClientsApiHandler, ClientsApiHandler, GeneralGetQueryParser,
    ClientsPostQueryParser>;
using TelecomSendDlUspd = CmdApiHandlerUSPD<SendDownlinkHandlerTelecomUSPD,
    SendDownlinkHandlerTelecomUSPD, telecom_query::send_dl, GeneralPostQueryParser>;
using TelecomDlMessageStatusUspd = CmdApiHandlerUSPD<DlMessageStatusApiHandlerUSPD,
    DlMessageStatusApiHandlerUSPD, GeneralGetQueryParser, GeneralPostQueryParser>;
