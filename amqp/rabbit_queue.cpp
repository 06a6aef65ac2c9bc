#include "amqp/rabbit_queue.h"

#include "amqp/rabbit_client.h"
#include "amqp/rabbit_table.h"

#include <algorithm>

static amqp_bytes_t view(const QByteArray& bytes)
{
    return amqp_bytes_t { size_t(bytes.size()), const_cast<char*>(bytes.constData()) };
}

rabbit_queue::rabbit_queue(rabbit_client* client, const QString& name)
    : QObject(client)
    , client_(client)
    , name_(name)
{ }

bool rabbit_queue::declare(int options, const QHash<QString, QVariant>& arguments)
{
    const QByteArray queue = name_.toUtf8();
    rabbit_table table(arguments);
    amqp_queue_declare_t method {};
    method.queue = view(queue);
    method.passive = (options & passive) != 0;
    method.durable = (options & durable) != 0;
    method.exclusive = (options & exclusive) != 0;
    method.auto_delete = (options & auto_delete) != 0;
    method.arguments = table.table();
    return client_->send_method(
        AMQP_QUEUE_DECLARE_METHOD, &method, this, AMQP_QUEUE_DECLARE_OK_METHOD);
}

bool rabbit_queue::bind(const QString& exchange, const QString& routing_key)
{
    const QByteArray queue = name_.toUtf8();
    const QByteArray ex = exchange.toUtf8();
    const QByteArray key = routing_key.toUtf8();
    amqp_queue_bind_t method {};
    method.queue = view(queue);
    method.exchange = view(ex);
    method.routing_key = view(key);
    method.arguments = amqp_empty_table;
    return client_->send_method(AMQP_QUEUE_BIND_METHOD, &method, this, AMQP_QUEUE_BIND_OK_METHOD);
}

bool rabbit_queue::qos(int prefetch_count, int prefetch_size)
{
    amqp_basic_qos_t method {};
    method.prefetch_count = uint16_t(std::clamp(prefetch_count, 0, 0xFFFF));
    method.prefetch_size = uint32_t(std::max(prefetch_size, 0));
    return client_->send_method(AMQP_BASIC_QOS_METHOD, &method, this, AMQP_BASIC_QOS_OK_METHOD);
}

bool rabbit_queue::consume(int options)
{
    const QByteArray queue = name_.toUtf8();
    const QByteArray tag = client_->register_consumer(this);
    amqp_basic_consume_t method {};
    method.queue = view(queue);
    method.consumer_tag = view(tag);
    method.no_local = (options & no_local) != 0;
    method.no_ack = (options & no_ack) != 0;
    method.exclusive = (options & consume_exclusive) != 0;
    method.arguments = amqp_empty_table;
    consumer_tag_ = tag;
    return client_->send_method(
        AMQP_BASIC_CONSUME_METHOD, &method, this, AMQP_BASIC_CONSUME_OK_METHOD);
}

bool rabbit_queue::cancel()
{
    if (consumer_tag_.isEmpty())
        return false;
    amqp_basic_cancel_t method {};
    method.consumer_tag = view(consumer_tag_);
    return client_->send_method(
        AMQP_BASIC_CANCEL_METHOD, &method, this, AMQP_BASIC_CANCEL_OK_METHOD);
}

bool rabbit_queue::ack(uint64_t delivery_tag, bool multiple)
{
    return client_->ack(delivery_tag, multiple);
}

bool rabbit_queue::reject(uint64_t delivery_tag, bool requeue)
{
    return client_->reject(delivery_tag, requeue);
}

void rabbit_queue::on_reply(amqp_method_number_t method)
{
    switch (method) {
    case AMQP_QUEUE_DECLARE_OK_METHOD:
        emit declared();
        break;
    case AMQP_QUEUE_BIND_OK_METHOD:
        emit bound();
        break;
    case AMQP_BASIC_CANCEL_OK_METHOD:
        client_->unregister_consumer(consumer_tag_);
        consumer_tag_.clear();
        break;
    default:
        break;
    }
}

void rabbit_queue::deliver(const rabbit_delivery& delivery)
{
    buffer_.push_back(delivery);
    emit message_received();
}

void rabbit_queue::on_cancelled()
{
    consumer_tag_.clear();
    emit cancelled();
}

void rabbit_queue::reset()
{
    buffer_.clear();
    consumer_tag_.clear();
}
