#pragma once

#include "amqp/rabbit_client.h"
#include "amqp/rabbit_delivery.h"
#include "app/logger.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QTimer>
#include <QVariant>
#include <cstdint>

struct rabbit_receiver_config
{
    QString url;
    QString queue;
    QString vhost;
    QList<QPair<QString, QString>> bindings; // (exchange, routing key), bound in this order
    int queue_options = 0; // rabbit_queue::queue_option flags
    int prefetch = 0;
    QHash<QString, QVariant> declare_arguments;
};

// The consuming half of one AMQP link: declares its queue on every connection, binds it one
// binding after the other, then consumes with manual acknowledgement.
class rabbit_receiver : public QObject
{
    Q_OBJECT
public:
    rabbit_receiver(
        logger& log, rabbit_receiver_config config, QObject* parent, bool raw, bool routekey);

    void ack_message(uint64_t message_tag, bool multiple);
    void reject_message(uint64_t message_tag);
    rabbit_receiver_config config();
    rabbit_delivery current_message();

signals:
    void conn_estimated();
    void conn_lost();
    void data_received(QJsonObject json, uint64_t message_tag);
    void raw_data_received(QByteArray data, uint64_t message_tag);
    void raw_routekey_data_received(QByteArray data, QString routing_key, uint64_t message_tag);

public slots:
    void stop();
    void start();

private slots:
    void messageReceived();
    void disconnected();
    void connected();

private:
    // Declares the queue, binds it and consumes, one step after the other.
    void set_up();
    void on_consumer_cancelled();
    void on_queue_declared();
    void on_queue_bound(QList<QPair<QString, QString>> pending);
    void start_consuming();

    rabbit_client client_;
    rabbit_receiver_config config_;
    rabbit_queue* queue_ = nullptr;
    rabbit_delivery current_;
    // A consumer the broker cancelled is set up again on the same connection: at once, and
    // after that no more often than once a reconnect interval.
    QTimer restore_timer_;
    QElapsedTimer last_restore_;
    logger& log_;
    bool raw_;
    bool routekey_;
};
