#include "handlers/modem/modem_api_handlers.h"

#include "access/access_helper.h"
#include "handlers/modem/query_data.h"
#include "router/http_exception.h"
#include "router/json_helpers.h"
#include "router/json_object_builder.h"
#include "json/compact_json.h"

#include <QJsonDocument>

namespace {

const QString modem_id_key = QStringLiteral("modem_id");

const settings_words setting_words { "setting", "settings", "read_setting", "write_setting" };
const settings_words calib_words { "calib", "calibs", "read_calib", "write_calib" };

// Both items or "Too few arguments".
void require_hw_type_and_protocol(const api_params& params)
{
    if (!params.has(QStringLiteral("hw_type")) || !params.has(QStringLiteral("protocol")))
        throw too_few_arguments();
}

} // namespace

HandlerResult settings_handler::get(const api_params& params)
{
    command_data data;
    data.insert_ready(modem_id_key, ownership().checked_list(params.value(modem_id_key)));
    insert_text_list(data, words_.data_key, params.value(words_.list_key));
    return command(words_.read_command, std::move(data), params);
}

HandlerResult settings_handler::post(const api_params& params)
{
    // The body names its modems by its keys; an array or text that is not JSON writes {}.
    const compact_json body(params.body());
    ownership().check_keys(body);
    command_data data;
    data.insert_ready(words_.data_key, body.object_text());
    return command(words_.write_command, std::move(data), params);
}

SettingHandler::SettingHandler(const request_container& container)
    : settings_handler(container, setting_words)
{ }

CalibHandler::CalibHandler(const request_container& container)
    : settings_handler(container, calib_words)
{ }

HandlerResult RollHandler::get(const api_params& params)
{
    command_data data;
    data.insert_ready(modem_id_key, ownership().checked_list(params.value(modem_id_key)));
    insert_text_list(data, params, QStringLiteral("tag"));
    insert_int(data, params, QStringLiteral("from"));
    insert_int(data, params, QStringLiteral("to"));
    insert_int(data, params, QStringLiteral("limit"));
    // Only a true flag is sent.
    if (params.text(QStringLiteral("time_detected")) == QLatin1String("true"))
        data.insert(QStringLiteral("time_detected"), true);
    const bool extract = params.has(QStringLiteral("extract"));
    return command(extract ? QStringLiteral("get_roll_extract") : QStringLiteral("get_roll"),
        std::move(data), params);
}

HandlerResult DeviceHandler::get(const api_params& params)
{
    requested_ = ownership().checked_text(params.value(modem_id_key));
    command_data data;
    data.insert_ready(modem_id_key, split_to_int_json_text(requested_));
    auto self = this->self<DeviceHandler>();
    return command(QStringLiteral("device"), std::move(data),
        route_key(params.value(QStringLiteral("route_key"))), [self](QJsonDocument& reply) {
            return device_supported_reply(reply, self->replies_, self->requested_);
        });
}

HandlerResult EAVHandler::get(const api_params& params)
{
    // An unowned modem is reported before a bad type.
    command_data data;
    data.insert_ready(modem_id_key, ownership().checked_list(params.value(modem_id_key)));
    const std::optional<QString> type = params.value(QStringLiteral("type"));
    static const QStringList types { "value", "event", "extract", "extract_event" };
    if (type && !types.contains(*type))
        throw http_exception(QStringLiteral("Please enter correct type parameter"), 403);
    insert_text_list(data, params, QStringLiteral("tag"));
    insert_text_list(data, QStringLiteral("obis_codes"), params.value(QStringLiteral("obis_code")));
    insert_int(data, params, QStringLiteral("from"));
    insert_int(data, params, QStringLiteral("step"));
    insert_int(data, params, QStringLiteral("to"));
    insert_int(data, params, QStringLiteral("limit"));
    insert_text(data, params, QStringLiteral("fill"));
    insert_bool(data, params, QStringLiteral("first_and_last"));
    return command(QStringLiteral("get_eav_") + type.value_or(QStringLiteral("extract")),
        std::move(data), params);
}

HandlerResult AppIDsHandler::get(const api_params& params)
{
    require_hw_type_and_protocol(params);
    command_data data;
    insert_text(data, params, QStringLiteral("hw_type"));
    insert_text(data, params, QStringLiteral("protocol"));
    return command(QStringLiteral("get_ids"), std::move(data), params);
}

HandlerResult MetadataHandler::get(const api_params& params)
{
    command_data data;
    if (params.has(modem_id_key)) {
        data.insert_ready(modem_id_key, ownership().checked_list(params.value(modem_id_key)));
    } else {
        require_hw_type_and_protocol(params);
        insert_text(data, params, QStringLiteral("hw_type"));
        insert_text(data, params, QStringLiteral("protocol"));
    }
    insert_text(data, params, QStringLiteral("app_id"));
    return command(QStringLiteral("get_metadata"), std::move(data), params);
}

HandlerResult ReparseHadler::get(const api_params& params)
{
    command_data data;
    data.insert_ready(modem_id_key, ownership().checked_list(params.value(modem_id_key)));
    insert_int(data, params, QStringLiteral("from"));
    insert_int(data, params, QStringLiteral("to"));
    insert_bool(data, params, QStringLiteral("request"));
    return command(QStringLiteral("reparse_modem"), std::move(data), params);
}

CheckIDs::CheckIDs(const request_container& container)
    : ownership_(container.access, container.conf.CHECK_TOKEN_API_KEY, container.context)
{ }

HandlerResult CheckIDs::get(const api_params& params)
{
    const std::optional<QString> text = params.value(modem_id_key);
    if (!text)
        throw too_few_arguments();
    // Each distinct part is answered once, an empty one too; a restricted caller's go to the
    // store, the empty one included.
    const distinct_list<QStringView> parts = distinct_modems(*text);
    const std::vector<bool> owned = ownership_.restricted()
        ? ownership_.store().owned_devices(parts.values(), ownership_.api_keys())
        : std::vector<bool>(std::size_t(parts.size()), true);
    json_object_builder answer;
    answer.reserve(std::size_t(parts.size()));
    for (int i = 0; i < parts.size(); ++i)
        answer.insert(parts[i].toString(), bool(owned[std::size_t(i)]));
    HttpSyncResult result;
    result.headers.insert(QStringLiteral("content-type"), QStringLiteral("application/json"));
    result.body = QJsonDocument(answer.take()).toJson(QJsonDocument::Compact);
    return result;
}

HandlerResult CustomHandler::custom_request(const char* type, const api_params& params)
{
    const std::optional<QString> modems = params.value(modem_id_key);
    const std::optional<QString> instance = params.value(QStringLiteral("instance"));
    if (!modems && !instance)
        throw too_few_arguments();
    // Without a modem list the request goes to the instance alone: "modem_id" is []. A body that
    // is not a JSON object goes as {}.
    command_data data(QJsonObject {
        { "instance", instance.value_or(QString()) },
        { "type", QLatin1String(type) },
        { "query", params.leftover() },
    });
    data.insert_ready(modem_id_key, ownership().checked_list(modems.value_or(QString())));
    data.insert_ready(QStringLiteral("body"), compact_json(params.body()).object_text());
    return command(QStringLiteral("custom_request"), std::move(data), params);
}
