#pragma once

#include "handlers/driver/tornel_params.h"
#include "handlers/modem/modem_handler_frame.h"
#include "routes/handler_dispatch.h"

#include <QJsonArray>
#include <QJsonObject>

// The driver's own request of its stored lists: a "custom_request" to the driver instances
// with no modems and the list asked for in `query`.
QJsonObject driver_custom_request(const QJsonObject& query);

// What the driver paths that serve GET and POST share: both read their parameters with
// `make_tornel_params` (the query for GET, the body for POST) and run the one operation `get`.
template <class Self>
class tornel_handler : public modem_handler_frame
{
public:
    static constexpr bool need_token = true;
    using ApiParams = tornel_params;
    using modem_handler_frame::modem_handler_frame;

    ApiParams parse_request(qhttp::server::QHttpRequest* request) const
    {
        const QStringList& keys = handler_keys<Self>();
        return ApiParams(keys, make_tornel_params(*request, keys));
    }
    HandlerResult post(const ApiParams& params) { return static_cast<Self&>(*this).get(params); }

protected:
    using modem_handler_frame::command;
    AsyncRabbitResult command(const QString& name, command_data data, const ApiParams& params,
        reply_processor post_process)
    {
        return command(name, std::move(data), route_key(params.value(QStringLiteral("route_key"))),
            std::move(post_process));
    }
};
