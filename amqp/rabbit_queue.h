#pragma once

#include "amqp/rabbit_delivery.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QVariant>
#include <amqp.h>
#include <deque>

class rabbit_client;

// One named queue on a client's channel. Requests go out at once; the broker's confirmations
// come back as signals from the client's frame reader. Deliveries wait in a buffer until the
// owner takes them, one per message_received().
class rabbit_queue : public QObject
{
    Q_OBJECT
public:
    // Declare flags, in the numbering the configuration uses.
    enum queue_option : int { passive = 1, durable = 2, exclusive = 4, auto_delete = 8 };
    enum consume_option : int { no_local = 1, no_ack = 2, consume_exclusive = 4 };

    const QString& name() const { return name_; }

    // Each returns false when the request could not be sent (no channel, dead socket).
    bool declare(int options, const QHash<QString, QVariant>& arguments = {});
    bool bind(const QString& exchange, const QString& routing_key);
    bool qos(int prefetch_count, int prefetch_size = 0);
    bool consume(int options);
    bool cancel();
    bool ack(uint64_t delivery_tag, bool multiple);
    bool reject(uint64_t delivery_tag, bool requeue);

    bool is_empty() const { return buffer_.empty(); }
    rabbit_delivery dequeue()
    {
        rabbit_delivery first = std::move(buffer_.front());
        buffer_.pop_front();
        return first;
    }

signals:
    void declared();
    void bound();
    void message_received();
    // The broker dropped this queue's consumer; deliveries already taken may still be acked.
    void cancelled();

private:
    friend class rabbit_client;
    rabbit_queue(rabbit_client* client, const QString& name);
    void on_reply(amqp_method_number_t method);
    void deliver(const rabbit_delivery& delivery);
    void on_cancelled();
    // The channel is gone: unacknowledged deliveries go back to the broker by themselves.
    void reset();

    rabbit_client* client_;
    QString name_;
    QByteArray consumer_tag_;
    // A deque takes a delivery without an allocation of its own, as a list of them would need.
    std::deque<rabbit_delivery> buffer_;
};
