#pragma once

#include "amqp/rabbit_client.h"
#include "app/logger.h"

#include <QByteArray>
#include <QObject>
#include <QString>

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

    // The routing key as it goes out: up to its first zero byte, read as UTF-8.
    static QByteArray wire_key(QByteArray routing_key);
    // False, with an ERROR line, for a key (as it goes out) that AMQP cannot carry: the
    // library would refuse it and drop the connection.
    bool key_fits(const QByteArray& wire_key);
    // True while the connection is down: a publish now would wait in a nested event loop.
    bool would_wait() const { return !client_.is_connected(); }

signals:
    void republish();
    void conn_estimated();

public slots:
    // While the connection is down this waits connection_wait_ms in a nested event loop, so
    // any other handler of the process may run before it returns.
    void publish_string(
        QByteArray string, QByteArray routing_key, QString mimeType = QStringLiteral("text/plain"));
    void connected();
    void disconnected();

private:
    rabbit_client client_;
    QString url_;
    QString exchange_;
    QString vhost_;
    logger& log_;
};

template <class C>
class rabbit_publisher : public rabbit_publisher_impl
{
public:
    rabbit_publisher(logger& log, C config, QObject* parent)
        : rabbit_publisher_impl(log, std::move(config), parent)
    { }
};
