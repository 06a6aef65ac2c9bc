#pragma once

#include "handlers/modem/modem_handler_frame.h"

#include <QStringList>
#include <array>

// The "/api/" modem commands of the application service: device descriptions, settings and
// calibrations, roll records, eav values, application ids and metadata, reparsing, custom
// requests, id checks and information.

// Settings and calibrations share one design: GET reads the listed items of the listed modems,
// POST writes a body keyed by modem id.
struct settings_words
{
    const char* list_key; // the query item naming what to read
    const char* data_key; // where it goes in the data
    const char* read_command;
    const char* write_command;
};

class settings_handler : public modem_handler_frame
{
public:
    settings_handler(const request_container& container, const settings_words& words)
        : modem_handler_frame(container)
        , words_(words)
    { }
    HandlerResult get(const api_params& params);
    HandlerResult post(const api_params& params);

private:
    const settings_words& words_;
};

class SettingHandler : public settings_handler
{
public:
    static constexpr const char* handler_path = "/api/setting";
    static constexpr bool need_token = true;
    static constexpr std::array<const char*, 3> param_keys { "modem_id", "setting", "route_key" };
    explicit SettingHandler(const request_container& container);
};

class CalibHandler : public settings_handler
{
public:
    static constexpr const char* handler_path = "/api/calib";
    static constexpr bool need_token = true;
    static constexpr std::array<const char*, 3> param_keys { "modem_id", "calib", "route_key" };
    explicit CalibHandler(const request_container& container);
};

class RollHandler : public modem_handler_frame
{
public:
    static constexpr const char* handler_path = "/api/roll";
    static constexpr bool need_token = true;
    static constexpr std::array<const char*, 8> param_keys { "modem_id", "from", "to", "tag",
        "limit", "time_detected", "extract", "route_key" };
    using modem_handler_frame::modem_handler_frame;
    HandlerResult get(const api_params& params);
};

class DeviceHandler : public modem_handler_frame
{
public:
    static constexpr const char* handler_path = "/api/device";
    static constexpr bool need_token = true;
    static constexpr std::array<const char*, 2> param_keys { "modem_id", "route_key" };
    using modem_handler_frame::modem_handler_frame;
    HandlerResult get(const api_params& params);

private:
    // The parts of "modem_id" as asked for; the answer names each of them.
    QString requested_; // the caller's comma list
};

class EAVHandler : public modem_handler_frame
{
public:
    static constexpr const char* handler_path = "/api/eav";
    static constexpr bool need_token = true;
    static constexpr std::array<const char*, 11> param_keys { "modem_id", "from", "to", "tag",
        "obis_code", "type", "limit", "route_key", "first_and_last", "step", "fill" };
    using modem_handler_frame::modem_handler_frame;
    HandlerResult get(const api_params& params);
};

class AppIDsHandler : public modem_handler_frame
{
public:
    static constexpr const char* handler_path = "/api/app_ids";
    static constexpr bool need_token = true;
    static constexpr std::array<const char*, 3> param_keys { "hw_type", "protocol", "route_key" };
    using modem_handler_frame::modem_handler_frame;
    HandlerResult get(const api_params& params);
};

class MetadataHandler : public modem_handler_frame
{
public:
    static constexpr const char* handler_path = "/api/metadata";
    static constexpr bool need_token = true;
    static constexpr std::array<const char*, 5> param_keys { "hw_type", "protocol", "modem_id",
        "app_id", "route_key" };
    using modem_handler_frame::modem_handler_frame;
    HandlerResult get(const api_params& params);
};

class ReparseHadler : public modem_handler_frame
{
public:
    static constexpr const char* handler_path = "/api/reparse";
    static constexpr bool need_token = true;
    static constexpr std::array<const char*, 5> param_keys { "modem_id", "from", "to", "request",
        "route_key" };
    using modem_handler_frame::modem_handler_frame;
    HandlerResult get(const api_params& params);
};

// Answers at once from the access store which of the listed modems the caller owns.
class CheckIDs
{
public:
    static constexpr const char* handler_path = "/api/check_ids";
    static constexpr bool need_token = true;
    static constexpr std::array<const char*, 1> param_keys { "modem_id" };
    explicit CheckIDs(const request_container& container);
    HandlerResult get(const api_params& params);

private:
    modem_ownership ownership_;
};

// A request passed to one service instance of the application service, GET or POST alike.
class CustomHandler : public modem_handler_frame
{
public:
    static constexpr const char* handler_path = "/api/custom";
    static constexpr bool need_token = true;
    static constexpr std::array<const char*, 3> param_keys { "route_key", "instance", "modem_id" };
    using modem_handler_frame::modem_handler_frame;
    HandlerResult get(const api_params& params) { return custom_request("get", params); }
    HandlerResult post(const api_params& params) { return custom_request("post", params); }

private:
    HandlerResult custom_request(const char* type, const api_params& params);
};

class AppInfoHandler : public modem_handler_frame
{
public:
    static constexpr const char* handler_path = "/api/info";
    static constexpr bool need_token = false;
    static constexpr std::array<const char*, 3> param_keys { "hw_type", "protocol", "route_key" };
    using modem_handler_frame::modem_handler_frame;
    HandlerResult get(const api_params& params)
    {
        return command(QStringLiteral("get_info"), QJsonObject(), params);
    }
};
