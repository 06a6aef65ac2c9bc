#pragma once

#include "app/dependency_container.h"
#include "app/global_conf.h"
#include "router/handler_result.h"
#include "routes/api_params.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <utility>

// The data of a write command: the body must be a JSON object with at least one member.
// Anything else (empty, not JSON, an array, {}) is refused with `refusal_status` and the
// message "Body is empty or not valid Json Object", before any command goes out. The body goes
// on as its compact text, never built into a QJsonObject.
command_data required_body_object(const QByteArray& body, quint32 refusal_status);

// The HTTP front end of one local service of the collector (IEC 104 gateway, SPODES converter,
// QOBI sender). Each endpoint needs a token, turns the request into one command to the
// service's routing key (a "route_key" query item sends it elsewhere) and answers with the
// service's first reply as it came. The services differ in the key and in the status a bad
// body is refused with.
template <QString global_conf::*ServiceRouteKey, quint32 BadBodyStatus = 403>
class collector_service_endpoint
{
public:
    static constexpr bool need_token = true;
    static constexpr std::array<const char*, 1> param_keys { "route_key" };

    explicit collector_service_endpoint(const request_container& container)
        : service_route_key_(container.conf.*ServiceRouteKey)
    { }

protected:
    AsyncRabbitResult command(
        const QString& name, const api_params& params, command_data data = command_data()) const
    {
        return AsyncRabbitResult { name, std::move(data), params.route_key(service_route_key_),
            accept_reply };
    }

    // A command whose data is the request body, refused unless it is a non-empty object.
    AsyncRabbitResult body_command(const QString& name, const api_params& params) const
    {
        return command(name, params, required_body_object(params.body(), BadBodyStatus));
    }

private:
    QString service_route_key_;
};
