#pragma once

#include "app/dependency_container.h"
#include "handlers/modem/instance_replies.h"
#include "handlers/modem/modem_ownership.h"
#include "router/handler_result.h"
#include "routes/api_params.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

using reply_processor = std::function<bool(QJsonDocument&)>;
// What a complete merge is answered with, made from the merged object.
using reply_shape = std::function<QJsonDocument(const QJsonObject&)>;

// What every handler of the application service's commands shares: one command to
// R_REMOTE_ROUTE_KEY (a "route_key" item sends it elsewhere), the modems the caller may name,
// and the replies of its APP_INST_COUNT instances merged into one answer.
//
// An operation tests its parameters and builds the data (every refusal is thrown there, before
// anything is sent), then returns `command(...)`, which empties the reply state. The
// post-processors hold the handler, so its reply state lives until the command completes or
// times out.
class modem_handler_frame : public std::enable_shared_from_this<modem_handler_frame>
{
public:
    explicit modem_handler_frame(const request_container& container);

protected:
    const modem_ownership& ownership() const { return ownership_; }
    bool restricted() const { return ownership_.restricted(); }

    // The "route_key" item when the query held it (an empty one too), else R_REMOTE_ROUTE_KEY.
    QString route_key(const std::optional<QString>& item) const
    {
        return item.value_or(remote_route_key_);
    }

    // The result of an operation; the reply state starts empty.
    AsyncRabbitResult command(const QString& name, command_data data, const QString& routing_key,
        reply_processor post_process);
    AsyncRabbitResult command(const QString& name, command_data data, const api_params& params)
    {
        return command(name, std::move(data), route_key(params.value(QStringLiteral("route_key"))),
            merge_replies());
    }

    // `merge_instance_replies` on this handler's reply state.
    reply_processor merge_replies();
    // The same merge, answered with `shape` of the merged object once complete.
    reply_processor shaped_merge(reply_shape shape);
    // The merged object's `member` as a top-level array ("req_id", "ids" of the driver's lists).
    reply_processor tornel_list_reply(const QString& member);
    // The merged object under "2": the answer of the driver's own settings.
    reply_processor tornel_device_settings_reply();

    // This handler under shared ownership, for a post-processor of its own.
    template <class Self>
    std::shared_ptr<Self> self()
    {
        return std::static_pointer_cast<Self>(shared_from_this());
    }

    instance_replies replies_;

private:
    modem_ownership ownership_;
    QString remote_route_key_;
};
