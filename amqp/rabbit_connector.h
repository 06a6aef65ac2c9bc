#pragma once

#include "amqp/rabbit_session.h"
#include "amqp/rabbit_url.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <mutex>

// Socket open, login and channel open are blocking librabbitmq calls, and a broker that
// accepts TCP but never answers holds each of them for its whole time-out. They run on a
// worker thread; the ready session is handed to the event-loop thread by a queued call.
class rabbit_connector
{
public:
    using done_handler = std::function<void(std::shared_ptr<rabbit_session>, QString error)>;

    static constexpr int open_timeout_ms = 5000;
    static constexpr int handshake_timeout_ms = 10000;
    static constexpr int rpc_timeout_ms = 10000;
    static constexpr int heartbeat_s = 360;
    static constexpr int write_timeout_ms = 20000;
    static constexpr int frame_max = 131072;
    static constexpr amqp_channel_t channel = 1;

    // Starts one attempt; `done` runs on context's thread unless the attempt was abandoned or
    // context died first (then the session is closed on the worker).
    rabbit_connector(const rabbit_endpoint& endpoint, const QByteArray& connection_name,
        QObject* context, done_handler done);
    // Abandons a running attempt; never waits for the worker.
    ~rabbit_connector();
    rabbit_connector(const rabbit_connector&) = delete;
    rabbit_connector& operator=(const rabbit_connector&) = delete;

private:
    struct shared_state
    {
        std::mutex mutex;
        bool abandoned = false;
    };
    std::shared_ptr<shared_state> state_;
};
