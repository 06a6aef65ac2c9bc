#pragma once

#include "handlers/driver/tornel_events.h"
#include "handlers/driver/tornel_handler.h"
#include "handlers/driver/tornel_history.h"
#include "handlers/driver/tornel_version_list.h"

#include <array>

// The meter driver's API ("/driver_tornel/api/"): every operation is one command to the driver
// instances behind R_REMOTE_ROUTE_KEY, whose replies are rewritten into the answer.

class Tornel_SendCmdHandler : public tornel_handler<Tornel_SendCmdHandler>
{
public:
    static constexpr const char* handler_path = "/driver_tornel/api/cmd/send";
    static constexpr std::array<const char*, 4> param_keys { "modem", "code", "value",
        "route_key" };
    using tornel_handler::tornel_handler;
    HandlerResult get(const ApiParams& params);
};

class Tornel_StatusCmdHandler : public tornel_handler<Tornel_StatusCmdHandler>
{
public:
    static constexpr const char* handler_path = "/driver_tornel/api/cmd/status";
    static constexpr std::array<const char*, 2> param_keys { "cmd_id", "route_key" };
    using tornel_handler::tornel_handler;
    HandlerResult get(const ApiParams& params);
};

class Tornel_ReadSettingsVersionListHandler
    : public tornel_handler<Tornel_ReadSettingsVersionListHandler>
{
public:
    static constexpr const char* handler_path = "/driver_tornel/api/setting/version_list";
    static constexpr std::array<const char*, 2> param_keys { "modem", "route_key" };
    using tornel_handler::tornel_handler;
    HandlerResult get(const ApiParams& params);

private:
    version_groups groups_;
};

class Tornel_ReadSettingsHandler : public tornel_handler<Tornel_ReadSettingsHandler>
{
public:
    static constexpr const char* handler_path = "/driver_tornel/api/setting";
    static constexpr std::array<const char*, 3> param_keys { "modem", "code", "route_key" };
    using tornel_handler::tornel_handler;
    HandlerResult get(const ApiParams& params);
};

class Tornel_ReportHistoryHandler : public tornel_handler<Tornel_ReportHistoryHandler>
{
public:
    static constexpr const char* handler_path = "/driver_tornel/api/report/history";
    static constexpr std::array<const char*, 8> param_keys { "modem", "profile", "timefrom",
        "timeto", "route_key", "index_only", "limit", "fill" };
    using tornel_handler::tornel_handler;
    HandlerResult get(const ApiParams& params);

private:
    QJsonArray answer_;
};

class Tornel_ReportEventsHandler : public tornel_handler<Tornel_ReportEventsHandler>
{
public:
    static constexpr const char* handler_path = "/driver_tornel/api/report/events";
    static constexpr std::array<const char*, 5> param_keys { "modem", "profile", "timefrom",
        "timeto", "route_key" };
    using tornel_handler::tornel_handler;
    HandlerResult get(const ApiParams& params);

private:
    QJsonArray answer_;
};

class Tornel_RAM_indexes : public tornel_handler<Tornel_RAM_indexes>
{
public:
    static constexpr const char* handler_path = "/driver_tornel/api/RAM/indexes";
    static constexpr std::array<const char*, 3> param_keys { "modem", "code", "route_key" };
    using tornel_handler::tornel_handler;
    HandlerResult get(const ApiParams& params);
};

// The GET-only paths read nothing but the "route_key" item of the query.
class tornel_list_handler : public modem_handler_frame
{
public:
    static constexpr bool need_token = true;
    static constexpr std::array<const char*, 1> param_keys { "route_key" };
    using modem_handler_frame::modem_handler_frame;
};

class Tornel_el_modems_for_get_index : public tornel_list_handler
{
public:
    static constexpr const char* handler_path = "/driver_tornel/api/el/modems_for_get_index";
    using tornel_list_handler::tornel_list_handler;
    HandlerResult get(const api_params& params);
};

class Tornel_RAM_modems : public tornel_list_handler
{
public:
    static constexpr const char* handler_path = "/driver_tornel/api/RAM/modems";
    using tornel_list_handler::tornel_list_handler;
    HandlerResult get(const api_params& params);
};

class Tornel_RAM_bs : public tornel_list_handler
{
public:
    static constexpr const char* handler_path = "/driver_tornel/api/RAM/bs";
    using tornel_list_handler::tornel_list_handler;
    HandlerResult get(const api_params& params);
};

// The collector's own information; asked without a token.
class Tornel_info : public tornel_list_handler
{
public:
    static constexpr const char* handler_path = "/driver_tornel/api/info";
    static constexpr bool need_token = false;
    using tornel_list_handler::tornel_list_handler;
    HandlerResult get(const api_params& params);
};
