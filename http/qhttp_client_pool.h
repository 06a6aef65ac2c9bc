#pragma once

#include "http/qhttp_tcp_stream.h"

#include <QBasicTimer>
#include <QObject>
#include <QString>
#include <QVector>

namespace qhttp {
namespace client {

// A monotonic clock in milliseconds, as cheap to read as the kernel allows; its precision (a
// few milliseconds) is ample for idle and stall limits.
qint64 coarse_now_ms();

// What a connection reports to the request that holds it.
class link_user
{
public:
    virtual void link_connected() = 0;
    virtual void link_readable() = 0;
    virtual void link_failed() = 0;
    // The connection is being destroyed with the pool, at the end of the process.
    virtual void link_destroyed() = 0;

protected:
    ~link_user() = default;
};

// A connection to a target that may carry one request after another. Its signals are
// connected once, when it is made, and go to whichever request holds it, or to the pool while
// it is idle: handing it on costs no connect or disconnect.
class target_link : public tcp_stream
{
public:
    target_link(const QString& host, quint16 port, QObject* parent);
    ~target_link() override;
    target_link(const target_link&) = delete;
    target_link& operator=(const target_link&) = delete;

    const QString host;
    const quint16 port;
    link_user* user = nullptr;
    qint64 idle_since_ms = 0;
};

// Idle keep-alive connections by target (host as written in the URL, and port), so that a
// request to a target reuses a connection an earlier answer left open instead of connecting
// anew; a connection each request closes would leave the gateway's ports in TIME_WAIT and make
// every connect() search past them. At most `max_idle_per_target` connections are kept per
// target, none longer than `idle_ms`, and one the target closes or writes to while idle is
// dropped. One pool per thread; it belongs to the application object.
class connection_pool : public QObject
{
public:
    static constexpr int max_idle_per_target = 64;
    static constexpr int idle_ms = 4000;

    // The pool of this thread, made on first use.
    static connection_pool& instance();

    // The most recently idle connection to the target, or nullptr when there is none. The
    // caller becomes its user.
    target_link* take(const QString& host, quint16 port);
    // A new, unconnected connection to the target.
    target_link* make(const QString& host, quint16 port, link_user* user);
    // Keeps a connection whose last answer was read whole and that may carry another; closes it
    // when the target has enough idle ones already.
    void give_back(target_link* link);
    // Closes a connection that is not to be reused; safe inside the connection's own signals.
    static void discard(target_link* link);

    int idle_count() const;

private:
    struct target
    {
        QString host;
        quint16 port = 0;
        QVector<target_link*> idle; // oldest first
    };

    explicit connection_pool(QObject* parent);
    void timerEvent(QTimerEvent* event) override;
    void on_idle_input(target_link* link);
    void drop(target_link* link);
    void expire();

    QVector<target> targets_;
    QBasicTimer sweep_;
};

} // namespace client
} // namespace qhttp
