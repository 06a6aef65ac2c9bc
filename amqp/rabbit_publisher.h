#pragma once

#include "amqp/rabbit_client.h"
#include "app/logger.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <deque>

struct rabbit_publisher_config
{
    QString url;
    QString exchange;
    QString vhost;
};

// The publishing half of one AMQP link. The exchange is not declared: it must exist.
class rabbit_publisher_impl : public QObject
{
    Q_OBJECT
public:
    rabbit_publisher_impl(logger& log, rabbit_publisher_config config, QObject* parent);

    // Longest routing key AMQP can carry.
    static constexpr int max_routing_key = 255;
    // How long a publish waits for a connection that is down.
    static constexpr int connection_wait_ms = 1000;
    // The largest message the link ever takes: neither the wait for a connection nor the
    // connection's unsent bytes hold more.
    static constexpr size_t max_message_bytes = rabbit_client::max_unsent_bytes;

    // The routing key as it goes out: up to its first zero byte, read as UTF-8.
    static QByteArray wire_key(QByteArray routing_key);
    // False, with an ERROR line, for a key (as it goes out) that AMQP cannot carry: the
    // library would refuse it and drop the connection.
    bool key_fits(const QByteArray& wire_key);

signals:
    void republish();
    void conn_estimated();

public slots:
    // While the connection is down the message waits connection_wait_ms, then goes if the
    // connection is back or is dropped. It waits in a queue, not in an event loop of its own:
    // this returns at once, so publishes that come in a stream while the broker is away never
    // pile waits on the stack. Messages leave in the order they were published.
    void publish_string(
        QByteArray string, QByteArray routing_key, QString mimeType = QStringLiteral("text/plain"));
    void connected();
    void disconnected();

private:
    using clock = std::chrono::steady_clock;
    struct waiting_message
    {
        QByteArray body;
        QByteArray key;
        QString mime;
        clock::time_point due;
    };
    void send(QByteArray body, const QByteArray& key, const QString& mime);
    // Sends or drops the waiting messages whose time has come, then waits for the next.
    void end_waits();

    rabbit_client client_;
    QString url_;
    QString exchange_;
    QString vhost_;
    logger& log_;
    std::deque<waiting_message> waiting_;
    // Bodies waiting, so that a broker away under heavy traffic cannot make them unbounded.
    size_t waiting_bytes_ = 0;
    QTimer wait_timer_;
};

template <class C>
class rabbit_publisher : public rabbit_publisher_impl
{
public:
    rabbit_publisher(logger& log, C config, QObject* parent)
        : rabbit_publisher_impl(log, std::move(config), parent)
    { }
};
