#include "amqp/rabbit_receiver.h"

#include "amqp/rabbit_queue.h"
#include "amqp/rabbit_url.h"
#include "json/json_document.h"

#include <QDebug>
#include <QJsonDocument>
#include <algorithm>

rabbit_receiver::rabbit_receiver(
    logger& log, rabbit_receiver_config config, QObject* parent, bool raw, bool routekey)
    : QObject(parent)
    , client_(log, QStringLiteral("rabbit_receiver ") + config.queue, this)
    , config_(std::move(config))
    , log_(log)
    , raw_(raw)
    , routekey_(routekey)
{
    connect(&client_, &rabbit_client::disconnected, this, &rabbit_receiver::disconnected,
        Qt::DirectConnection);
    connect(&client_, &rabbit_client::connected, this, &rabbit_receiver::connected,
        Qt::DirectConnection);
    restore_timer_.setSingleShot(true);
    connect(&restore_timer_, &QTimer::timeout, this, [this] {
        last_restore_.start();
        if (client_.is_connected())
            set_up();
    });
    client_.connect_to_host(config_.url, config_.vhost);
    log_line(log_, LOG_DEBUG) << "rabbit_man_receiver_impl inited to path <<"
                              << mask_url_password(config_.url) << ", queue " << config_.queue
                              << ", host " << config_.vhost;
}

void rabbit_receiver::connected()
{
    restore_timer_.stop();
    log_line(log_, LOG_DEBUG) << " Rabbit_man_ul: connected";
    set_up();
}

void rabbit_receiver::set_up()
{
    if (queue_)
        queue_->disconnect();
    queue_ = client_.create_queue(config_.queue);
    connect(queue_, &rabbit_queue::declared, this, &rabbit_receiver::on_queue_declared);
    connect(queue_, &rabbit_queue::cancelled, this, &rabbit_receiver::on_consumer_cancelled);
    if (!queue_->declare(config_.queue_options, config_.declare_arguments))
        return; // the connection is gone again; the client said so
    log_line(log_, LOG_DEBUG) << " rabbit_receiver: Connected";
    emit conn_estimated();
}

void rabbit_receiver::on_consumer_cancelled()
{
    const int interval = rabbit_client::reconnect_interval_ms();
    const qint64 since = last_restore_.isValid() ? last_restore_.elapsed() : interval;
    const int wait = int(std::max<qint64>(0, interval - since));
    log_line(log_, LOG_WARNING) << " Rabbit_man_ul: the broker cancelled the consumer of queue "
                                << config_.queue << ", set up again in " << wait << " ms";
    if (!restore_timer_.isActive())
        restore_timer_.start(wait);
}

void rabbit_receiver::on_queue_declared()
{
    if (config_.bindings.isEmpty()) {
        // Without a binding the queue is still reached through the default exchange.
        start_consuming();
        return;
    }
    QList<QPair<QString, QString>> pending = config_.bindings;
    disconnect(queue_, &rabbit_queue::bound, nullptr, nullptr);
    queue_->bind(pending.first().first, pending.first().second);
    connect(queue_, &rabbit_queue::bound, this, [this, pending] { on_queue_bound(pending); });
}

void rabbit_receiver::on_queue_bound(QList<QPair<QString, QString>> pending)
{
    pending.removeFirst();
    if (pending.isEmpty()) {
        disconnect(queue_, &rabbit_queue::bound, nullptr, nullptr);
        start_consuming();
        log_line(log_, LOG_DEBUG) << " Rabbit_man_ul: Queue bound";
        return;
    }
    disconnect(queue_, &rabbit_queue::bound, nullptr, nullptr);
    queue_->bind(pending.first().first, pending.first().second);
    connect(queue_, &rabbit_queue::bound, this, [this, pending] { on_queue_bound(pending); });
}

void rabbit_receiver::start_consuming()
{
    start();
    connect(queue_, &rabbit_queue::message_received, this, &rabbit_receiver::messageReceived,
        Qt::DirectConnection);
}

void rabbit_receiver::start()
{
    log_line(log_, LOG_DEBUG) << "Rabbit consume";
    qDebug() << "consume";
    if (!queue_) {
        log_line(log_, LOG_DEBUG) << "void rabbit_receiver::start()"
                                  << " zerro queue";
        return;
    }
    queue_->qos(config_.prefetch);
    queue_->consume(rabbit_queue::no_local);
}

void rabbit_receiver::stop()
{
    log_line(log_, LOG_DEBUG) << "Rabbit cancel";
    qDebug() << "cancel";
    if (!queue_) {
        log_line(log_, LOG_DEBUG) << "void rabbit_receiver::stop()"
                                  << " zerro queue";
        return;
    }
    queue_->cancel();
}

void rabbit_receiver::messageReceived()
{
    if (!queue_ || queue_->is_empty()) {
        log_line(log_, LOG_DEBUG) << "void rabbit_receiver::messageReceived()"
                                  << "zerro or empty queue";
        return;
    }
    current_ = queue_->dequeue();
    const rabbit_delivery message = current_;
    if (routekey_) {
        emit raw_routekey_data_received(message.payload, message.routing_key, message.delivery_tag);
    } else if (raw_) {
        emit raw_data_received(message.payload, message.delivery_tag);
    } else {
        // Not JSON, or an array at the top: an empty object, for the owner to judge.
        emit data_received(read_json_document(message.payload).object(), message.delivery_tag);
    }
}

void rabbit_receiver::ack_message(uint64_t message_tag, bool multiple)
{
    if (!queue_) {
        log_line(log_, LOG_DEBUG) << "void rabbit_receiver::ack_message(uint64_t, bool)"
                                  << " zerro queue";
        return;
    }
    queue_->ack(message_tag, multiple);
}

void rabbit_receiver::reject_message(uint64_t message_tag)
{
    if (!queue_) {
        log_line(log_, LOG_DEBUG) << "void rabbit_receiver::reject_message(uint64_t)"
                                  << " zerro queue";
        return;
    }
    queue_->reject(message_tag, false);
}

void rabbit_receiver::disconnected()
{
    restore_timer_.stop();
    log_line(log_, LOG_ERROR) << " Rabbit_man_ul: Disconnected";
}

rabbit_receiver_config rabbit_receiver::config()
{
    return config_;
}

rabbit_delivery rabbit_receiver::current_message()
{
    return current_;
}
