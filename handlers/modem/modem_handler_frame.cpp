#include "handlers/modem/modem_handler_frame.h"

modem_handler_frame::modem_handler_frame(const request_container& container)
    : replies_(container.conf.APP_INST_COUNT)
    , ownership_(container.access, container.conf.CHECK_TOKEN_API_KEY, container.context)
    , remote_route_key_(container.conf.R_REMOTE_ROUTE_KEY)
{ }

AsyncRabbitResult modem_handler_frame::command(const QString& name, command_data data,
    const QString& routing_key, reply_processor post_process)
{
    replies_.reset();
    return AsyncRabbitResult { name, std::move(data), routing_key, std::move(post_process) };
}

reply_processor modem_handler_frame::merge_replies()
{
    return [self = shared_from_this()](
               QJsonDocument& reply) { return merge_instance_replies(reply, self->replies_); };
}

reply_processor modem_handler_frame::shaped_merge(reply_shape shape)
{
    return [self = shared_from_this(), shape = std::move(shape)](QJsonDocument& reply) {
        if (!merge_instance_replies(reply, self->replies_))
            return false;
        reply = shape(self->replies_.merged);
        return true;
    };
}

reply_processor modem_handler_frame::tornel_list_reply(const QString& member)
{
    return shaped_merge(
        [member](const QJsonObject& merged) { return member_array_answer(merged, member); });
}

reply_processor modem_handler_frame::tornel_device_settings_reply()
{
    return shaped_merge(
        [](const QJsonObject& merged) { return keyed_answer(QStringLiteral("2"), merged); });
}
