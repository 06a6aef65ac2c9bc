#include "broker_probe.h"

#include "amqp_test_support.h"
#include "support/test_services.h"

#include <amqp_tcp_socket.h>

static amqp_bytes_t view(const QByteArray& bytes)
{
    return amqp_bytes_t { size_t(bytes.size()), const_cast<char*>(bytes.constData()) };
}

broker_probe::broker_probe(const QString& vhost)
{
    if (test_services::amqp_port() == 0)
        return;
    conn_ = amqp_new_connection();
    amqp_socket_t* socket = amqp_tcp_socket_new(conn_);
    timeval timeout { 5, 0 };
    if (amqp_socket_open_noblock(socket, "127.0.0.1", test_services::amqp_port(), &timeout)
        != AMQP_STATUS_OK) {
        amqp_destroy_connection(conn_);
        conn_ = nullptr;
        return;
    }
    amqp_set_rpc_timeout(conn_, &timeout);
    const QByteArray vh = vhost.toUtf8();
    if (amqp_login(conn_, vh.constData(), 0, 131072, 0, AMQP_SASL_METHOD_PLAIN, "guest", "guest")
            .reply_type
        != AMQP_RESPONSE_NORMAL) {
        amqp_destroy_connection(conn_);
        conn_ = nullptr;
        return;
    }
    amqp_channel_open(conn_, 1);
    rpc_ok();
}

broker_probe::~broker_probe()
{
    if (!conn_)
        return;
    amqp_connection_close(conn_, AMQP_REPLY_SUCCESS);
    amqp_destroy_connection(conn_);
}

// After a refused request the channel is closed; it is opened again for the next one.
bool broker_probe::rpc_ok()
{
    const amqp_rpc_reply_t reply = amqp_get_rpc_reply(conn_);
    if (reply.reply_type == AMQP_RESPONSE_NORMAL)
        return true;
    if (reply.reply_type == AMQP_RESPONSE_SERVER_EXCEPTION
        && reply.reply.id == AMQP_CHANNEL_CLOSE_METHOD) {
        amqp_channel_close_ok_t close_ok {};
        amqp_send_method(conn_, 1, AMQP_CHANNEL_CLOSE_OK_METHOD, &close_ok);
        amqp_channel_open(conn_, 1);
        amqp_get_rpc_reply(conn_);
    }
    return false;
}

bool broker_probe::declare_exchange(const QString& name)
{
    amqp_exchange_declare(
        conn_, 1, view(name.toUtf8()), amqp_cstring_bytes("direct"), 0, 0, 0, 0, amqp_empty_table);
    return rpc_ok();
}

void broker_probe::delete_exchange(const QString& name)
{
    amqp_exchange_delete(conn_, 1, view(name.toUtf8()), 0);
    rpc_ok();
}

bool broker_probe::declare_queue(const QString& name, const QString& exchange, const QString& key)
{
    amqp_queue_declare(conn_, 1, view(name.toUtf8()), 0, 0, 0, 0, amqp_empty_table);
    if (!rpc_ok())
        return false;
    if (key.isNull())
        return true;
    amqp_queue_bind(conn_, 1, view(name.toUtf8()), view(exchange.toUtf8()), view(key.toUtf8()),
        amqp_empty_table);
    return rpc_ok();
}

void broker_probe::delete_queue(const QString& name)
{
    amqp_queue_delete(conn_, 1, view(name.toUtf8()), 0, 0);
    rpc_ok();
}

bool broker_probe::publish(const QString& exchange, const QString& key, const QByteArray& body,
    const QString& content_type)
{
    const QByteArray type = content_type.toUtf8();
    amqp_basic_properties_t props {};
    props._flags = AMQP_BASIC_CONTENT_TYPE_FLAG;
    props.content_type = view(type);
    return amqp_basic_publish(
               conn_, 1, view(exchange.toUtf8()), view(key.toUtf8()), 0, 0, &props, view(body))
        == AMQP_STATUS_OK;
}

std::optional<broker_probe::message> broker_probe::get(const QString& queue)
{
    amqp_maybe_release_buffers(conn_);
    const amqp_rpc_reply_t reply = amqp_basic_get(conn_, 1, view(queue.toUtf8()), 1);
    if (reply.reply_type != AMQP_RESPONSE_NORMAL) {
        rpc_ok();
        return std::nullopt;
    }
    if (reply.reply.id != AMQP_BASIC_GET_OK_METHOD)
        return std::nullopt;
    auto* get_ok = static_cast<amqp_basic_get_ok_t*>(reply.reply.decoded);
    message m;
    m.routing_key = QString::fromUtf8(
        static_cast<const char*>(get_ok->routing_key.bytes), int(get_ok->routing_key.len));
    amqp_message_t content;
    if (amqp_read_message(conn_, 1, &content, 0).reply_type != AMQP_RESPONSE_NORMAL)
        return std::nullopt;
    m.body = QByteArray(static_cast<const char*>(content.body.bytes), int(content.body.len));
    if (content.properties._flags & AMQP_BASIC_CONTENT_TYPE_FLAG)
        m.content_type
            = QString::fromUtf8(static_cast<const char*>(content.properties.content_type.bytes),
                int(content.properties.content_type.len));
    amqp_destroy_message(&content);
    return m;
}

std::optional<broker_probe::message> broker_probe::wait_get(const QString& queue, int timeout_ms)
{
    std::optional<message> found;
    wait_until(
        [&] {
            found = get(queue);
            return found.has_value();
        },
        timeout_ms);
    return found;
}
