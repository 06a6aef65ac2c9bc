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

private:
    amqp_connection_state_t state_;
    bool logged_in_ = false;
};

// Readable texts for librabbitmq results, for log lines.
QString describe_reply(const amqp_rpc_reply_t& reply);
QString describe_status(int status);
