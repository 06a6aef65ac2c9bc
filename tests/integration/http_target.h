#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QThread>
#include <memory>

class http_target_worker;

// A local HTTP service for forwards to reach, on port 0 in a thread of its own so a test can
// block on the gateway while the target answers. It records the raw bytes of every complete
// request and answers what the test scripted.
class http_target
{
public:
    enum class behaviour {
        answer, // writes the scripted answer once the request is complete
        never_answer, // keeps the connection open and says nothing
        close_at_once, // closes every connection as soon as it is accepted
        endless_answer, // answers a head without a length, then body bytes until the peer leaves
        reset_after_answer // writes the scripted answer, then resets the connection
    };

    http_target();
    ~http_target();
    http_target(const http_target&) = delete;
    http_target& operator=(const http_target&) = delete;

    quint16 port() const { return port_; }
    void script(behaviour b, const QByteArray& answer = default_answer(), int delay_ms = 0);
    static QByteArray default_answer();

    // Raw bytes of each complete request, in arrival order.
    QList<QByteArray> requests() const;
    bool wait_requests(int count, int wait_ms = 10000) const;
    // Connections the target holds open now, and accepted so far.
    int open_connections() const;
    int accepted_connections() const;
    bool wait_open_connections(int count, int wait_ms = 10000) const;

private:
    friend class http_target_worker;
    mutable QMutex mutex_;
    behaviour behaviour_ = behaviour::answer;
    QByteArray answer_;
    int delay_ms_ = 0;
    QList<QByteArray> requests_;
    int open_ = 0;
    int accepted_ = 0;

    QThread thread_;
    http_target_worker* worker_ = nullptr;
    quint16 port_ = 0;
};
