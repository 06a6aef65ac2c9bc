#include "amqp/rabbit_session.h"

#include <poll.h>

rabbit_session::~rabbit_session()
{
    if (logged_in_) {
        pollfd p { amqp_get_sockfd(state_), POLLOUT, 0 };
        if (p.fd >= 0 && ::poll(&p, 1, 0) == 1 && p.revents == POLLOUT) {
            amqp_connection_close_t close {};
            close.reply_code = AMQP_REPLY_SUCCESS;
            close.reply_text = amqp_cstring_bytes("closing");
            amqp_send_method(state_, 0, AMQP_CONNECTION_CLOSE_METHOD, &close);
        }
    }
    amqp_destroy_connection(state_);
}

static QString bytes_text(amqp_bytes_t bytes)
{
    return QString::fromUtf8(static_cast<const char*>(bytes.bytes), int(bytes.len));
}

QString describe_status(int status)
{
    return QString::fromUtf8(amqp_error_string2(status));
}

QString describe_reply(const amqp_rpc_reply_t& reply)
{
    switch (reply.reply_type) {
    case AMQP_RESPONSE_NORMAL:
        return QStringLiteral("ok");
    case AMQP_RESPONSE_NONE:
        return QStringLiteral("no reply");
    case AMQP_RESPONSE_LIBRARY_EXCEPTION:
        return describe_status(reply.library_error);
    case AMQP_RESPONSE_SERVER_EXCEPTION:
        if (reply.reply.id == AMQP_CONNECTION_CLOSE_METHOD) {
            auto* m = static_cast<amqp_connection_close_t*>(reply.reply.decoded);
            return QString("connection closed by broker: %1 %2")
                .arg(m->reply_code)
                .arg(bytes_text(m->reply_text));
        }
        if (reply.reply.id == AMQP_CHANNEL_CLOSE_METHOD) {
            auto* m = static_cast<amqp_channel_close_t*>(reply.reply.decoded);
            return QString("channel closed by broker: %1 %2")
                .arg(m->reply_code)
                .arg(bytes_text(m->reply_text));
        }
        return QString("unexpected method 0x%1 from broker").arg(reply.reply.id, 0, 16);
    }
    return QStringLiteral("unknown failure");
}
