#include "amqp/rabbit_connector.h"

#include <amqp_ssl_socket.h>
#include <amqp_tcp_socket.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>

static timeval to_timeval(int ms)
{
    return timeval { ms / 1000, (ms % 1000) * 1000 };
}

// Runs on the worker thread: nothing here may touch Qt objects of the event loop.
static std::shared_ptr<rabbit_session> open_session(
    const rabbit_endpoint& ep, const QByteArray& name, QString* error)
{
    auto session = std::make_shared<rabbit_session>(amqp_new_connection());
    amqp_connection_state_t conn = session->get();
    amqp_socket_t* socket = ep.ssl ? amqp_ssl_socket_new(conn) : amqp_tcp_socket_new(conn);
    if (!socket) {
        *error = QStringLiteral("cannot create a socket");
        return nullptr;
    }
    if (ep.ssl) {
        // Certificate problems are not a reason to stay away from the broker.
        amqp_ssl_socket_set_verify_peer(socket, 0);
        amqp_ssl_socket_set_verify_hostname(socket, 0);
    }
    timeval open_timeout = to_timeval(rabbit_connector::open_timeout_ms);
    int status = amqp_socket_open_noblock(socket, ep.host.constData(), ep.port, &open_timeout);
    if (status != AMQP_STATUS_OK) {
        *error = QString("cannot open %1:%2: %3")
                     .arg(QString::fromUtf8(ep.host))
                     .arg(ep.port)
                     .arg(describe_status(status));
        return nullptr;
    }
    // Data the broker does not acknowledge within the write time-out kills the connection, so
    // no write on a dead socket blocks longer than that.
    int user_timeout = rabbit_connector::write_timeout_ms;
    setsockopt(
        amqp_get_sockfd(conn), IPPROTO_TCP, TCP_USER_TIMEOUT, &user_timeout, sizeof user_timeout);

    timeval handshake = to_timeval(rabbit_connector::handshake_timeout_ms);
    amqp_set_handshake_timeout(conn, &handshake);
    QByteArray name_copy = name;
    // The broker tells a client that announces these when it stops reading (an alarm) and
    // when it drops a consumer (its queue deleted); others learn nothing.
    amqp_table_entry_t capabilities[2];
    capabilities[0].key = amqp_cstring_bytes("connection.blocked");
    capabilities[1].key = amqp_cstring_bytes("consumer_cancel_notify");
    for (amqp_table_entry_t& capability : capabilities) {
        capability.value.kind = AMQP_FIELD_KIND_BOOLEAN;
        capability.value.value.boolean = 1;
    }
    amqp_table_entry_t property[2];
    property[0].key = amqp_cstring_bytes("connection_name");
    property[0].value.kind = AMQP_FIELD_KIND_UTF8;
    property[0].value.value.bytes = amqp_bytes_t { size_t(name_copy.size()), name_copy.data() };
    property[1].key = amqp_cstring_bytes("capabilities");
    property[1].value.kind = AMQP_FIELD_KIND_TABLE;
    property[1].value.value.table = amqp_table_t { 2, capabilities };
    amqp_table_t properties { 2, property };
    amqp_rpc_reply_t reply = amqp_login_with_properties(conn, ep.vhost.constData(), 0,
        rabbit_connector::frame_max, rabbit_connector::heartbeat_s, &properties,
        AMQP_SASL_METHOD_PLAIN, ep.user.constData(), ep.password.constData());
    if (reply.reply_type != AMQP_RESPONSE_NORMAL) {
        *error = QStringLiteral("login failed: ") + describe_reply(reply);
        return nullptr;
    }
    session->set_logged_in();

    timeval rpc = to_timeval(rabbit_connector::rpc_timeout_ms);
    amqp_set_rpc_timeout(conn, &rpc);
    amqp_channel_open(conn, rabbit_connector::channel);
    reply = amqp_get_rpc_reply(conn);
    if (reply.reply_type != AMQP_RESPONSE_NORMAL) {
        *error = QStringLiteral("channel open failed: ") + describe_reply(reply);
        return nullptr;
    }
    // Heartbeats are sent and checked by the client, which knows where its frames end.
    session->set_heartbeat_s(amqp_get_heartbeat(conn));
    amqp_tune_connection(
        conn, amqp_get_channel_max(conn), amqp_get_frame_max(conn), /* heartbeat */ 0);
    amqp_maybe_release_buffers(conn);
    return session;
}

rabbit_connector::rabbit_connector(const rabbit_endpoint& endpoint,
    const QByteArray& connection_name, QObject* context, done_handler done)
    : state_(std::make_shared<shared_state>())
{
    std::thread([state = state_, endpoint, connection_name, context, done = std::move(done)] {
        QString error;
        std::shared_ptr<rabbit_session> session = open_session(endpoint, connection_name, &error);
        std::lock_guard<std::mutex> lock(state->mutex);
        if (state->abandoned)
            return; // the session closes here, on the worker
        // The owner abandons under this lock before it dies, so context is alive here; if it
        // dies before the call runs, Qt drops the call and the captured session closes.
        QMetaObject::invokeMethod(
            context, [done, session, error] { done(session, error); }, Qt::QueuedConnection);
    }).detach();
}

rabbit_connector::~rabbit_connector()
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->abandoned = true;
}
