#include "handlers/driver/tornel_handlers.h"

#include "handlers/driver/tornel_collector_info.h"
#include "handlers/driver/tornel_download_index.h"
#include "handlers/driver/tornel_modem_info.h"
#include "handlers/driver/tornel_setting_codes.h"
#include "router/json_helpers.h"
#include "router/list_items.h"
#include "json/json_document.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonParseError>

namespace {

// The "value" of a command: a JSON object or array as such, any other text as it came.
QJsonValue command_value(const QString& value)
{
    QJsonParseError error {};
    const QJsonDocument document = read_json_document(value.toLatin1(), &error);
    if (error.error != QJsonParseError::NoError)
        return value;
    return document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
}

qint64 now_seconds()
{
    return QDateTime::currentSecsSinceEpoch();
}

} // namespace

QJsonObject driver_custom_request(const QJsonObject& query)
{
    return QJsonObject { { QStringLiteral("modem_id"), QJsonArray() },
        { QStringLiteral("instance"), QStringLiteral("tornel_*") },
        { QStringLiteral("type"), QStringLiteral("get") },
        { QStringLiteral("body"), QJsonObject() }, { QStringLiteral("query"), query } };
}

HandlerResult Tornel_SendCmdHandler::get(const ApiParams& params)
{
    const std::optional<QString> code = params.value(QStringLiteral("code"));
    if (!code)
        throw too_few_arguments();
    QByteArray modems = ownership().checked_list(params.value(QStringLiteral("modem")));
    QJsonObject inner;
    if (const std::optional<QString> value = params.value(QStringLiteral("value")))
        inner.insert(QLatin1String("data"), command_value(*value));
    inner.insert(QLatin1String("cmd"), *code);
    QJsonObject object { { QStringLiteral("data"), inner } };
    add_api_keys(object, ownership().api_keys());
    command_data data(std::move(object));
    data.insert_ready(QStringLiteral("modem_id"), std::move(modems));
    return command(QStringLiteral("send_dl_msg"), std::move(data), params,
        [self = self<Tornel_SendCmdHandler>()](QJsonDocument& reply) {
            return tornel_send_reply(reply, self->replies_, self->ownership().store());
        });
}

HandlerResult Tornel_StatusCmdHandler::get(const ApiParams& params)
{
    const std::optional<QString> cmd_id = params.value(QStringLiteral("cmd_id"));
    if (!cmd_id)
        throw too_few_arguments();
    command_data data;
    data.insert_ready(QStringLiteral("db_id"), db_ids_of_commands(*cmd_id, ownership().store()));
    return command(QStringLiteral("status_dl_msg"), std::move(data), params,
        [self = self<Tornel_StatusCmdHandler>()](QJsonDocument& reply) {
            return tornel_status_reply(reply, self->replies_, self->ownership().store());
        });
}

HandlerResult Tornel_ReadSettingsVersionListHandler::get(const ApiParams& params)
{
    command_data data(
        QJsonObject { { QStringLiteral("settings"), QJsonArray { QStringLiteral("version") } } });
    data.insert_ready(QStringLiteral("modem_id"),
        ownership().checked_list(params.value(QStringLiteral("modem"))));
    groups_ = version_groups();
    return command(QStringLiteral("read_setting"), std::move(data), params,
        [self = self<Tornel_ReadSettingsVersionListHandler>()](QJsonDocument& reply) {
            return tornel_version_list_reply(reply, self->replies_, self->groups_);
        });
}

HandlerResult Tornel_ReadSettingsHandler::get(const ApiParams& params)
{
    const QString modems = ownership().checked_text(params.value(QStringLiteral("modem")));
    const std::optional<QString> code = params.value(QStringLiteral("code"));
    setting_code_request codes;
    if (code)
        codes = translate_setting_codes(*code);
    // The item "2" asks the driver for its own settings, whatever the codes.
    bool driver_itself = false;
    for_each_comma_run(
        modems, [&](QStringView modem, qsizetype) { driver_itself |= modem == u"2"; });
    if (driver_itself) {
        return command(QStringLiteral("custom_request"), driver_custom_request(QJsonObject()),
            params, tornel_device_settings_reply());
    }
    command_data data;
    data.insert_ready(QStringLiteral("modem_id"), split_to_int_json_text(modems));
    if (code)
        data.insert_ready(QStringLiteral("settings"), std::move(codes.settings));
    return command(QStringLiteral("read_setting"), std::move(data), params,
        [self = self<Tornel_ReadSettingsHandler>(), requested = std::move(codes.codes)](
            QJsonDocument& reply) {
            return tornel_settings_reply(reply, self->replies_, requested);
        });
}

HandlerResult Tornel_ReportHistoryHandler::get(const ApiParams& params)
{
    QByteArray modems = ownership().checked_list(params.value(QStringLiteral("modem")));
    history_request request = tornel_history_request(params, std::move(modems), now_seconds());
    answer_ = QJsonArray();
    return command(request.command, std::move(request.data), params,
        [self = self<Tornel_ReportHistoryHandler>(), context = request.context](
            QJsonDocument& reply) {
            return tornel_history_reply(reply, self->replies_, self->answer_, context);
        });
}

HandlerResult Tornel_ReportEventsHandler::get(const ApiParams& params)
{
    QByteArray modems = ownership().checked_list(params.value(QStringLiteral("modem")));
    events_request request = tornel_events_request(params, std::move(modems), now_seconds());
    answer_ = QJsonArray();
    return command(QStringLiteral("get_roll"), std::move(request.data), params,
        [self = self<Tornel_ReportEventsHandler>(), context = std::move(request.context)](
            QJsonDocument& reply) {
            return tornel_events_reply(reply, self->replies_, self->answer_, context);
        });
}

HandlerResult Tornel_RAM_indexes::get(const ApiParams& params)
{
    // "code" is accepted and not used.
    command_data data;
    data.insert_ready(QStringLiteral("modem_id"),
        ownership().checked_list(params.value(QStringLiteral("modem"))));
    return command(QStringLiteral("read_setting"), std::move(data), params,
        [self = self<Tornel_RAM_indexes>()](
            QJsonDocument& reply) { return tornel_modem_info_reply(reply, self->replies_); });
}

HandlerResult Tornel_el_modems_for_get_index::get(const api_params& params)
{
    return command(QStringLiteral("custom_request"),
        driver_custom_request(QJsonObject { { QStringLiteral("list"), QStringLiteral("req_id") },
            { QStringLiteral("limit"), QStringLiteral("100000") } }),
        route_key(params.value(QStringLiteral("route_key"))),
        tornel_list_reply(QStringLiteral("req_id")));
}

HandlerResult Tornel_RAM_modems::get(const api_params& params)
{
    return command(QStringLiteral("custom_request"),
        driver_custom_request(QJsonObject { { QStringLiteral("list"), QStringLiteral("id") } }),
        route_key(params.value(QStringLiteral("route_key"))),
        tornel_list_reply(QStringLiteral("ids")));
}

HandlerResult Tornel_RAM_bs::get(const api_params& params)
{
    return command(QStringLiteral("custom_request"),
        driver_custom_request(
            QJsonObject { { QStringLiteral("list"), QStringLiteral("bs_load") } }),
        params);
}

HandlerResult Tornel_info::get(const api_params& params)
{
    return command(QStringLiteral("get_info"), QJsonObject(),
        route_key(params.value(QStringLiteral("route_key"))),
        [self = self<Tornel_info>()](
            QJsonDocument& reply) { return tornel_info_reply(reply, self->replies_); });
}
