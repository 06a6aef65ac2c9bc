#pragma once

#include <QString>
#include <amqp.h>

// One librabbitmq connection state, closed when the object goes. After login it says goodbye
// to the broker with connection.close, unless the socket cannot take it at once.
class rabbit_session
{
public:
    explicit rabbit_session(amqp_connection_state_t state)
        : state_(state)
    { }
    ~rabbit_session();
    rabbit_session(const rabbit_session&) = delete;
    rabbit_session& operator=(const rabbit_session&) = delete;

    amqp_connection_state_t get() const { return state_; }
    void set_logged_in() { logged_in_ = true; }
    // The socket is dead or the broker already closed: skip the goodbye.
    void forget_login() { logged_in_ = false; }
    // The heartbeat agreed with the broker, in seconds (0: none). The library's own heartbeats
    // are off: it would write them in the middle of frames that are still on their way.
    int heartbeat_s() const { return heartbeat_s_; }
    void set_heartbeat_s(int seconds) { heartbeat_s_ = seconds; }

private:
    amqp_connection_state_t state_;
    bool logged_in_ = false;
    int heartbeat_s_ = 0;
};

// Readable texts for librabbitmq results, for log lines.
QString describe_reply(const amqp_rpc_reply_t& reply);
QString describe_status(int status);
