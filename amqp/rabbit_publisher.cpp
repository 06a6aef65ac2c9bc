#include "amqp/rabbit_publisher.h"

#include "amqp/rabbit_url.h"

#include <algorithm>

rabbit_publisher_impl::rabbit_publisher_impl(
    logger& log, rabbit_publisher_config config, QObject* parent)
    : QObject(parent)
    , client_(log, QStringLiteral("rabbit_publisher ") + config.exchange, this)
    , url_(config.url)
    , exchange_(config.exchange)
    , vhost_(config.vhost)
    , log_(log)
{
    connect(&client_, &rabbit_client::disconnected, this, &rabbit_publisher_impl::disconnected,
        Qt::DirectConnection);
    connect(&client_, &rabbit_client::connected, this, &rabbit_publisher_impl::connected,
        Qt::DirectConnection);
    wait_timer_.setSingleShot(true);
    wait_timer_.setTimerType(Qt::PreciseTimer);
    connect(&wait_timer_, &QTimer::timeout, this, &rabbit_publisher_impl::end_waits);
    client_.connect_to_host(url_, vhost_);
    log_line(log_, LOG_DEBUG) << "rabbit_man_publisher_impl inited to path <<"
                              << mask_url_password(url_) << ", exchange " << exchange_ << ", host "
                              << vhost_;
}

void rabbit_publisher_impl::connected()
{
    log_line(log_, LOG_DEBUG) << "rabbit_publisher_impl: Connected";
    emit conn_estimated();
}

void rabbit_publisher_impl::disconnected()
{
    log_line(log_, LOG_ERROR) << " rabbit_publisher_impl: Disconnected";
}

QByteArray rabbit_publisher_impl::wire_key(QByteArray routing_key)
{
    const int zero = routing_key.indexOf('\0');
    if (zero >= 0)
        routing_key.truncate(zero);
    // Plain ASCII, the usual case, reads as itself; anything else may grow (an invalid byte
    // becomes a three-byte replacement character).
    const bool ascii = std::all_of(routing_key.cbegin(), routing_key.cend(),
        [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return ascii ? routing_key : QString::fromUtf8(routing_key).toUtf8();
}

bool rabbit_publisher_impl::key_fits(const QByteArray& wire_key)
{
    if (wire_key.size() <= max_routing_key)
        return true;
    log_line(log_, LOG_ERROR) << "Routing key longer than " << max_routing_key
                              << " bytes, message dropped: " << QString::fromUtf8(wire_key.left(64))
                              << "...";
    return false;
}

void rabbit_publisher_impl::publish_string(
    QByteArray string, QByteArray routing_key, QString mimeType)
{
    QByteArray key = wire_key(std::move(routing_key));
    if (!key_fits(key))
        return;
    if (waiting_.empty() && client_.is_connected()) {
        send(std::move(string), key, mimeType);
        return;
    }
    // Behind messages still waiting, even over a live connection, so as not to overtake them.
    const auto now = clock::now();
    const auto due
        = client_.is_connected() ? now : now + std::chrono::milliseconds(connection_wait_ms);
    if (waiting_bytes_ + size_t(string.size()) > max_message_bytes) {
        log_line(log_, LOG_DEBUG) << "Try to publish but not connected";
        return;
    }
    waiting_bytes_ += size_t(string.size());
    waiting_.push_back({ std::move(string), std::move(key), std::move(mimeType), due });
    if (!wait_timer_.isActive())
        end_waits();
}

void rabbit_publisher_impl::end_waits()
{
    const auto now = clock::now();
    while (!waiting_.empty() && waiting_.front().due <= now) {
        waiting_message next = std::move(waiting_.front());
        waiting_.pop_front();
        waiting_bytes_ -= size_t(next.body.size());
        if (client_.is_connected())
            send(std::move(next.body), next.key, next.mime);
        else
            log_line(log_, LOG_DEBUG) << "Try to publish but not connected";
    }
    if (waiting_.empty())
        return;
    const auto left
        = std::chrono::ceil<std::chrono::milliseconds>(waiting_.front().due - clock::now());
    wait_timer_.start(int(std::max<qint64>(left.count(), 0)));
}

void rabbit_publisher_impl::send(QByteArray body, const QByteArray& key, const QString& mime)
{
    if (log_.accepts(LOG_DEBUG))
        log_line(log_, LOG_DEBUG) << "Publishing :" << QString::fromUtf8(body)
                                  << " To route : " << QString::fromUtf8(key)
                                  << ", MIME type : " << mime;
    client_.publish(exchange_, key, std::move(body), mime);
}
