#include "handlers/modem/downlink_handlers.h"

#include "access/access_helper.h"
#include "handlers/modem/dl_queue_change.h"
#include "handlers/modem/dl_queue_paging.h"
#include "handlers/modem/query_data.h"
#include "router/http_exception.h"
#include "router/json_object_builder.h"
#include "json/compact_json.h"

#include <QJsonArray>

namespace {

const QString modem_id_key = QStringLiteral("modem_id");

// The message content must be JSON; an array counts, as an empty object.
void require_json(const compact_json& body)
{
    if (!body.valid())
        throw http_exception(QStringLiteral("Body is not JSON"), 403);
}

} // namespace

HandlerResult DownlinkHandler::get(const api_params& params)
{
    command_data data;
    // Messages by database id: no modem is named, nothing else is read.
    if (const std::optional<QString> db_id = params.value(QStringLiteral("db_id"))) {
        insert_text_list(data, QStringLiteral("db_id"), db_id);
        return command(QStringLiteral("status_dl_msg"), std::move(data), params);
    }
    data.insert_ready(modem_id_key, ownership().checked_list(params.value(modem_id_key)));
    insert_int(data, params, QStringLiteral("from"));
    insert_int(data, params, QStringLiteral("to"));
    insert_int(data, params, QStringLiteral("limit"));
    if (params.text(QStringLiteral("not_acked")) == QLatin1String("true"))
        data.insert(QStringLiteral("not_acked"), true);
    return command(QStringLiteral("get_dl_msg"), std::move(data), params);
}

HandlerResult DownlinkHandler::post(const api_params& params)
{
    command_data data;
    data.insert_ready(modem_id_key, ownership().checked_list(params.value(modem_id_key)));
    for (const char* key : { "timeout", "dl_phy", "frequency", "station_id", "f_system", "f_ack" })
        insert_int(data, params, QLatin1String(key));
    const compact_json body(params.body());
    require_json(body);
    data.insert_ready(QStringLiteral("data"), body.object_text());
    data.insert(QStringLiteral("api_key"), QJsonArray::fromStringList(ownership().api_keys()));
    return command(QStringLiteral("send_dl_msg"), std::move(data), params);
}

HandlerResult DownlinkQueueHandler::get(const api_params& params)
{
    dl_queue_request sent;
    sent.mode = params.value(QStringLiteral("mode")).value_or(QStringLiteral("normal"));
    sent.restricted = restricted();
    const std::optional<QString> limit_text = params.value(QStringLiteral("limit"));
    const int limit = limit_text ? limit_text->toInt(nullptr, 10) : 100;
    QJsonObject data {
        { "limit", std::min(limit, 10000) },
        { "offset", params.value(QStringLiteral("offset")).value_or("0").toInt(nullptr, 10) },
        { "mode", sent.mode },
        { "admin", !sent.restricted },
    };

    QStringList modems; // the store's
    const std::optional<QString> listed = params.value(modem_id_key);
    distinct_list<QStringView> named; // the caller's, each once
    const bool own_modems = sent.restricted
        && (sent.mode == QLatin1String("modem_count") || sent.mode == QLatin1String("modem_list"));
    if (own_modems) {
        ownership().store().get_client_devices(ownership().api_keys(), modems);
        if (sent.mode == QLatin1String("modem_count")) {
            sent.total_modems = modems.size();
        } else {
            page_modem_list(data, modems);
            for (const QString& modem : modems)
                sent.modem_list.append(modem.toInt(nullptr, 10));
        }
        // One modem member is enough for the back-end to answer; the count or page is ours.
        modems = modems.mid(0, 1);
    } else if (listed) {
        ownership().check(*listed);
        named = distinct_modems(*listed);
    } else if (sent.restricted) {
        ownership().store().get_client_devices(ownership().api_keys(), modems);
        page_modem_list(data, modems);
        if (modems.isEmpty())
            throw http_exception(QStringLiteral("No available modem for provided token."), 403);
    }
    // Each modem is a member of its own, laid over those above.
    const QJsonObject get { { "action", "get" } };
    json_object_builder members(data);
    members.reserve(std::size_t(modems.size() + named.size()));
    for (const QString& modem : modems)
        members.insert(modem, get);
    for (QStringView modem : named.values())
        members.insert(modem.toString(), get);
    data = members.take();

    auto self = this->self<DownlinkQueueHandler>();
    return command(QStringLiteral("dl_queue"), data,
        route_key(params.value(QStringLiteral("route_key"))),
        [self, sent](QJsonDocument& reply) { return dl_queue_reply(reply, self->replies_, sent); });
}

HandlerResult DownlinkQueueHandler::post(const api_params& params)
{
    const compact_json body(params.body());
    require_json(body);
    // A body without keys names no modem and passes.
    if (restricted()) {
        modem_ownership::id_check modems(ownership());
        queue_change_modems(body, modems);
        modems.finish();
    }
    return command(
        QStringLiteral("dl_queue"), command_data::ready_object(body.object_text()), params);
}
