#include "amqp/rabbit_client.h"

#include "amqp/delivery_tag.h"
#include "amqp/rabbit_queue.h"
#include "app/heap_trim.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>

static int s_reconnect_interval_ms = 30000;

// A content header's body size is its publisher's word: up to this much is reserved at once,
// a larger body grows with what arrives.
static constexpr uint64_t max_reserved_body = uint64_t(64) << 20;

void rabbit_client::set_reconnect_interval_ms(int ms)
{
    s_reconnect_interval_ms = ms;
}
int rabbit_client::reconnect_interval_ms()
{
    return s_reconnect_interval_ms;
}

static amqp_bytes_t view(const QByteArray& bytes)
{
    return amqp_bytes_t { size_t(bytes.size()), const_cast<char*>(bytes.constData()) };
}

static QByteArray copy_bytes(amqp_bytes_t bytes)
{
    return QByteArray(static_cast<const char*>(bytes.bytes), int(bytes.len));
}

static QString copy_text(amqp_bytes_t bytes)
{
    return QString::fromUtf8(static_cast<const char*>(bytes.bytes), int(bytes.len));
}

// The deliveries of a link repeat their consumer tag, exchange, routing key and content type:
// the text of the previous one is shared when it is the same, instead of copied anew.
static QByteArray reuse_bytes(const QByteArray& previous, amqp_bytes_t bytes)
{
    if (size_t(previous.size()) == bytes.len
        && (bytes.len == 0 || std::memcmp(previous.constData(), bytes.bytes, bytes.len) == 0))
        return previous;
    return copy_bytes(bytes);
}

static QString reuse_text(const QString& previous, amqp_bytes_t bytes)
{
    const auto* data = static_cast<const unsigned char*>(bytes.bytes);
    bool same = size_t(previous.size()) == bytes.len;
    // Compared as ASCII only; other text is always copied.
    for (size_t i = 0; same && i < bytes.len; ++i)
        same = data[i] < 0x80 && previous.at(int(i)).unicode() == data[i];
    return same ? previous : copy_text(bytes);
}

rabbit_client::rabbit_client(logger& log, const QString& name, QObject* parent)
    : QObject(parent)
    , log_(log)
    , name_(name)
{
    reconnect_timer_.setSingleShot(true);
    connect(&reconnect_timer_, &QTimer::timeout, this, &rabbit_client::start_attempt);
    connect(&heartbeat_timer_, &QTimer::timeout, this, &rabbit_client::on_heartbeat_tick);
    write_timer_.setSingleShot(true);
    connect(&write_timer_, &QTimer::timeout, this,
        [this] { lose(QStringLiteral("write time-out"), false); });
}

rabbit_client::~rabbit_client()
{
    write_batch::leave(this);
    // What is still held goes out if the socket takes it at once; a frame cut short must not
    // be followed by the goodbye.
    if (session_
        && output_.send_to(amqp_get_sockfd(session_->get()))
            != rabbit_output_buffer::send_result::all_sent)
        session_->forget_login();
    connector_.reset();
    delete notifier_;
    notifier_ = nullptr;
    delete write_notifier_;
    write_notifier_ = nullptr;
    session_.reset();
}

void rabbit_client::connect_to_host(const QString& url, const QString& vhost)
{
    masked_url_ = mask_url_password(url);
    endpoint_ok_ = parse_rabbit_url(url, vhost, &endpoint_);
    if (!endpoint_ok_) {
        log_line(log_, LOG_ERROR) << name_ << ": broker URL cannot be read: " << masked_url_;
        return;
    }
    start_attempt();
}

void rabbit_client::start_attempt()
{
    if (!endpoint_ok_ || session_ || connector_)
        return;
    const quint64 attempt = ++attempt_;
    connector_
        = std::make_unique<rabbit_connector>(endpoint_, QByteArray("gorvex ") + name_.toUtf8(),
            this, [this, attempt](std::shared_ptr<rabbit_session> session, QString error) {
                on_attempt_done(attempt, std::move(session), error);
            });
}

void rabbit_client::on_attempt_done(
    quint64 attempt, std::shared_ptr<rabbit_session> session, const QString& error)
{
    if (attempt != attempt_ || session_)
        return;
    connector_.reset();
    if (!session) {
        log_line(log_, LOG_ERROR) << name_ << ": connection to " << masked_url_
                                  << " failed: " << error;
        reconnect_timer_.start(s_reconnect_interval_ms);
        return;
    }
    session_ = std::move(session);
    buffered_ = !endpoint_.ssl;
    output_.clear();
    generation_ = delivery_tag::next_generation(generation_);
    draining_ = false;
    drain_posted_ = false;
    const int fd = amqp_get_sockfd(session_->get());
    notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        read_since_tick_ = true;
        drain();
    });
    write_notifier_ = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    write_notifier_->setEnabled(false);
    connect(write_notifier_, &QSocketNotifier::activated, this, &rabbit_client::send_output);
    read_since_tick_ = wrote_since_tick_ = false;
    silent_ticks_ = 0;
    const int heartbeat = session_->heartbeat_s();
    if (heartbeat > 0)
        heartbeat_timer_.start(std::max(1000, heartbeat * 1000 / 4));
    QPointer<rabbit_client> self(this);
    emit connected();
    if (self)
        schedule_drain();
}

rabbit_queue* rabbit_client::create_queue(const QString& name)
{
    auto it = queues_.find(name);
    if (it != queues_.end())
        return it->second;
    auto* queue = new rabbit_queue(this, name);
    queues_.emplace(name, queue);
    return queue;
}

QByteArray rabbit_client::register_consumer(rabbit_queue* queue)
{
    QByteArray tag = QByteArray("gorvex.") + queue->name().toUtf8() + '.'
        + QByteArray::number(++consumer_count_);
    consumers_[tag] = queue;
    return tag;
}

void rabbit_client::unregister_consumer(const QByteArray& tag)
{
    consumers_.erase(tag);
}

bool rabbit_client::writable()
{
    pollfd p { amqp_get_sockfd(session_->get()), POLLOUT, 0 };
    int ready;
    do {
        ready = ::poll(&p, 1, rabbit_connector::write_timeout_ms);
    } while (ready < 0 && errno == EINTR);
    if (ready == 1 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) == 0)
        return true;
    lose(ready == 0 ? QStringLiteral("write time-out") : QStringLiteral("socket error"), false);
    return false;
}

bool rabbit_client::begin_write()
{
    if (!session_)
        return false;
    if (!buffered_)
        return writable();
    if (!in_write_batch_)
        in_write_batch_ = write_batch::join(this);
    return true;
}

bool rabbit_client::end_write(int status, const char* operation)
{
    if (status != AMQP_STATUS_OK) {
        lose(QString::fromLatin1(operation) + QStringLiteral(" failed: ") + describe_status(status),
            false);
        return false;
    }
    if (!buffered_) {
        wrote_since_tick_ = true;
        drain_if_buffered();
        return true;
    }
    // Without an event loop no pass ends: the frames go at once.
    return in_write_batch_ || flush_output();
}

void rabbit_client::end_write_batch()
{
    in_write_batch_ = false;
    flush_output();
}

bool rabbit_client::flush_output()
{
    // While the socket is full its write notifier sends, when it can take more.
    if (!session_ || output_.empty() || write_notifier_->isEnabled())
        return true;
    return send_output();
}

bool rabbit_client::send_output()
{
    if (!session_)
        return false;
    bool moved = false;
    const auto result = output_.send_to(amqp_get_sockfd(session_->get()), &moved);
    if (moved)
        wrote_since_tick_ = true;
    switch (result) {
    case rabbit_output_buffer::send_result::all_sent:
        if (write_notifier_->isEnabled()) {
            write_notifier_->setEnabled(false);
            write_timer_.stop();
        }
        return true;
    case rabbit_output_buffer::send_result::socket_full:
        // The time-out counts from the last byte that left.
        if (moved || !write_timer_.isActive())
            write_timer_.start(rabbit_connector::write_timeout_ms);
        write_notifier_->setEnabled(true);
        return true;
    case rabbit_output_buffer::send_result::failed:
        break;
    }
    lose(QStringLiteral("send failed: ") + QString::fromLocal8Bit(std::strerror(errno)), false);
    return false;
}

bool rabbit_client::send_method(
    amqp_method_number_t method, void* decoded, rabbit_queue* waiter, amqp_method_number_t reply)
{
    if (!session_)
        return false;
    int status;
    if (buffered_) {
        // Behind whatever was written before, and out now rather than at the end of the pass.
        status = output_.add_method(
            rabbit_connector::channel, method, decoded, amqp_get_frame_max(session_->get()));
        if (status == AMQP_STATUS_OK && !flush_output())
            return false;
    } else {
        if (!writable())
            return false;
        status = amqp_send_method(session_->get(), rabbit_connector::channel, method, decoded);
    }
    if (status != AMQP_STATUS_OK) {
        lose(QStringLiteral("send failed: ") + describe_status(status), false);
        return false;
    }
    wrote_since_tick_ = true;
    replies_.push_back(pending_reply { waiter, reply });
    drain_if_buffered();
    return true;
}

bool rabbit_client::accepts_tag(uint64_t tag, const char* operation)
{
    if (session_ && delivery_tag::generation(tag) == generation_)
        return true;
    log_line(log_, LOG_DEBUG) << name_ << ": " << operation << " of delivery tag "
                              << QString::number(tag) << " from an earlier channel dropped";
    return false;
}

bool rabbit_client::ack(uint64_t tag, bool multiple)
{
    if (!accepts_tag(tag, "ack") || !begin_write())
        return false;
    const uint64_t channel_tag = delivery_tag::channel_tag(tag);
    const int status = buffered_
        ? output_.add_ack(rabbit_connector::channel, channel_tag, multiple)
        : amqp_basic_ack(session_->get(), rabbit_connector::channel, channel_tag, multiple);
    return end_write(status, "ack");
}

bool rabbit_client::reject(uint64_t tag, bool requeue)
{
    if (!accepts_tag(tag, "reject") || !begin_write())
        return false;
    const uint64_t channel_tag = delivery_tag::channel_tag(tag);
    const int status = buffered_
        ? output_.add_reject(rabbit_connector::channel, channel_tag, requeue)
        : amqp_basic_reject(session_->get(), rabbit_connector::channel, channel_tag, requeue);
    return end_write(status, "reject");
}

bool rabbit_client::publish(const QString& exchange, const QByteArray& routing_key, QByteArray body,
    const QString& content_type)
{
    if (buffered_ && session_ && output_.pending() + size_t(body.size()) > max_unsent_bytes) {
        if (log_.accepts(LOG_DEBUG))
            log_line(log_, LOG_DEBUG)
                << name_ << ": publish dropped, " << QString::number(output_.pending())
                << " bytes wait for the broker already";
        return false;
    }
    if (!begin_write())
        return false;
    const QByteArray ex = exchange.toUtf8();
    const QByteArray type = content_type.toUtf8();
    int status;
    if (buffered_) {
        status = output_.add_publish(rabbit_connector::channel, ex, routing_key, type,
            std::move(body), amqp_get_frame_max(session_->get()));
    } else {
        amqp_basic_properties_t properties {};
        properties._flags = AMQP_BASIC_CONTENT_TYPE_FLAG;
        properties.content_type = view(type);
        status = amqp_basic_publish(session_->get(), rabbit_connector::channel, view(ex),
            view(routing_key), 0, 0, &properties, view(body));
    }
    return end_write(status, "publish");
}

void rabbit_client::on_heartbeat_tick()
{
    if (!session_)
        return;
    // Four ticks to the agreed heartbeat time; the broker sends twice in that time, and two of
    // them without a byte from it means the broker or the path to it is gone.
    if (read_since_tick_)
        silent_ticks_ = 0;
    else if (++silent_ticks_ >= 8) {
        lose(QStringLiteral("no heartbeat from broker"), false);
        return;
    }
    read_since_tick_ = false;
    if (!wrote_since_tick_)
        send_heartbeat();
    wrote_since_tick_ = false;
    // Over TLS the library may hold records the notifier does not see.
    drain();
}

void rabbit_client::send_heartbeat()
{
    if (buffered_) {
        // Bytes still on their way keep the connection busy by themselves.
        if (output_.empty() && output_.add_heartbeat() == AMQP_STATUS_OK)
            flush_output();
        return;
    }
    amqp_frame_t heartbeat {};
    heartbeat.frame_type = AMQP_FRAME_HEARTBEAT;
    if (writable()) {
        const int status = amqp_send_frame(session_->get(), &heartbeat);
        if (status != AMQP_STATUS_OK)
            lose(QStringLiteral("send failed: ") + describe_status(status), false);
    }
}

void rabbit_client::drain_if_buffered()
{
    // A write through the library may have read frames into its buffer, where the notifier
    // sees none; a drain under way finds them by itself. Over TLS the library's TLS layer may
    // hold them too, out of sight: a drain always follows there.
    if (!session_ || draining_)
        return;
    amqp_connection_state_t state = session_->get();
    if (!buffered_ || amqp_frames_enqueued(state) || amqp_data_in_buffer(state))
        schedule_drain();
}

void rabbit_client::schedule_drain()
{
    if (drain_posted_)
        return;
    drain_posted_ = true;
    QMetaObject::invokeMethod(
        this, [this] { drain(); }, Qt::QueuedConnection);
}

void rabbit_client::drain()
{
    drain_posted_ = false;
    // Handlers of what is read may run nested event loops; frames wait until they return.
    if (!session_ || draining_)
        return;
    QPointer<rabbit_client> self(this);
    const uint16_t generation = generation_;
    draining_ = true;
    notifier_->setEnabled(false);
    // On plain TCP one read of the socket per wake-up: what that read buffered is handled
    // here, and what the socket holds beyond it wakes the notifier again, so no read ends in a
    // vain poll. The TLS layer may hold records the notifier does not see: reading goes on
    // there until nothing is left.
    bool may_read = true;
    for (;;) {
        amqp_connection_state_t state = session_->get();
        if (!may_read && !amqp_frames_enqueued(state) && !amqp_data_in_buffer(state))
            break;
        may_read = !buffered_;
        amqp_frame_t frame;
        timeval no_wait { 0, 0 };
        const int status = amqp_simple_wait_frame_noblock(state, &frame, &no_wait);
        if (status == AMQP_STATUS_TIMEOUT)
            break;
        if (status != AMQP_STATUS_OK) {
            lose(QStringLiteral("connection lost: ") + describe_status(status), false);
            return;
        }
        handle_frame(frame);
        if (!self || !session_ || generation_ != generation)
            return;
        // Every frame is read into the library's pool, which is recycled only while no frame
        // is half read. At the end of a drain one mostly is while a body of many frames
        // arrives: the pool would take a page for each of its frames and keep them all for
        // good. Right after a whole frame none is.
        if (frame.frame_type == AMQP_FRAME_BODY && incoming_.active)
            amqp_maybe_release_buffers(state);
    }
    amqp_maybe_release_buffers(session_->get());
    draining_ = false;
    notifier_->setEnabled(true);
}

void rabbit_client::handle_frame(const amqp_frame_t& frame)
{
    switch (frame.frame_type) {
    case AMQP_FRAME_METHOD:
        handle_method(frame.channel, frame.payload.method);
        break;
    case AMQP_FRAME_HEADER:
        if (incoming_.active && !incoming_.have_header) {
            incoming_.have_header = true;
            incoming_.body_size = frame.payload.properties.body_size;
            auto* properties
                = static_cast<const amqp_basic_properties_t*>(frame.payload.properties.decoded);
            if (properties && (properties->_flags & AMQP_BASIC_CONTENT_TYPE_FLAG))
                incoming_.delivery.content_type = recent_.content_type
                    = reuse_text(recent_.content_type, properties->content_type);
            // Grown frame by frame, the array would double its capacity past the body's size,
            // and the receiver keeps the last message.
            if (incoming_.body_size <= max_reserved_body)
                incoming_.delivery.payload.reserve(int(incoming_.body_size));
            if (incoming_.body_size == 0)
                finish_content();
        }
        break;
    case AMQP_FRAME_BODY:
        if (incoming_.active && incoming_.have_header) {
            const amqp_bytes_t& fragment = frame.payload.body_fragment;
            incoming_.delivery.payload.append(
                static_cast<const char*>(fragment.bytes), int(fragment.len));
            if (uint64_t(incoming_.delivery.payload.size()) >= incoming_.body_size)
                finish_content();
        }
        break;
    default:
        break; // heartbeats are answered inside the library
    }
}

void rabbit_client::handle_method(amqp_channel_t channel, const amqp_method_t& method)
{
    switch (method.id) {
    case AMQP_CONNECTION_CLOSE_METHOD: {
        auto* m = static_cast<const amqp_connection_close_t*>(method.decoded);
        const QString reason = QString("connection closed by broker: %1 %2")
                                   .arg(m->reply_code)
                                   .arg(copy_text(m->reply_text));
        amqp_connection_close_ok_t ok {};
        if (!buffered_)
            amqp_send_method(session_->get(), 0, AMQP_CONNECTION_CLOSE_OK_METHOD, &ok);
        else if (output_.add_method(
                     0, AMQP_CONNECTION_CLOSE_OK_METHOD, &ok, amqp_get_frame_max(session_->get()))
            == AMQP_STATUS_OK)
            output_.send_to(amqp_get_sockfd(session_->get()));
        lose(reason, false);
        return;
    }
    case AMQP_CHANNEL_CLOSE_METHOD: {
        auto* m = static_cast<const amqp_channel_close_t*>(method.decoded);
        lose(QString("channel closed by broker: %1 %2")
                 .arg(m->reply_code)
                 .arg(copy_text(m->reply_text)),
            true);
        return;
    }
    case AMQP_BASIC_CANCEL_METHOD: {
        // The broker dropped a consumer (its queue deleted, a node lost); the connection
        // stays, the queue's owner sets the consumer up again.
        auto* m = static_cast<const amqp_basic_cancel_t*>(method.decoded);
        auto it = consumers_.find(copy_bytes(m->consumer_tag));
        if (it == consumers_.end())
            return;
        QPointer<rabbit_queue> queue = it->second;
        consumers_.erase(it);
        if (queue)
            queue->on_cancelled();
        return;
    }
    case AMQP_BASIC_DELIVER_METHOD: {
        auto* m = static_cast<const amqp_basic_deliver_t*>(method.decoded);
        incoming_ = incoming_content {};
        incoming_.active = true;
        incoming_.consumer_tag = recent_.consumer_tag
            = reuse_bytes(recent_.consumer_tag, m->consumer_tag);
        incoming_.channel_tag = m->delivery_tag;
        incoming_.delivery.redelivered = m->redelivered != 0;
        incoming_.delivery.exchange = recent_.exchange = reuse_text(recent_.exchange, m->exchange);
        incoming_.delivery.routing_key = recent_.routing_key
            = reuse_text(recent_.routing_key, m->routing_key);
        return;
    }
    case AMQP_CONNECTION_BLOCKED_METHOD: {
        // Until it is lifted the broker reads nothing more from a connection that publishes:
        // what is sent meanwhile waits in the output buffer.
        auto* m = static_cast<const amqp_connection_blocked_t*>(method.decoded);
        log_line(log_, LOG_WARNING)
            << name_ << ": broker blocks publishing: " << copy_text(m->reason);
        return;
    }
    case AMQP_CONNECTION_UNBLOCKED_METHOD:
        log_line(log_, LOG_INFORM) << name_ << ": broker takes publishing again";
        return;
    case AMQP_BASIC_RETURN_METHOD:
        return;
    default:
        break;
    }
    if (channel != rabbit_connector::channel || replies_.empty()
        || replies_.front().method != method.id) {
        lose(QString("unexpected method 0x%1 from broker").arg(method.id, 0, 16), true);
        return;
    }
    QPointer<rabbit_queue> waiter = replies_.front().waiter;
    replies_.pop_front();
    if (waiter)
        waiter->on_reply(method.id);
}

void rabbit_client::finish_content()
{
    incoming_content content = std::move(incoming_);
    incoming_ = incoming_content {};
    content.delivery.delivery_tag = delivery_tag::encode(generation_, content.channel_tag);
    // Handled on this pass: what it made is freed by the time the loop next waits.
    heap_trim::after_work(qint64(content.body_size));
    auto it = consumers_.find(content.consumer_tag);
    if (it != consumers_.end() && it->second)
        it->second->deliver(content.delivery);
}

void rabbit_client::lose(const QString& reason, bool socket_alive)
{
    if (!session_)
        return;
    log_line(log_, LOG_ERROR) << name_ << ": " << reason;
    write_batch::leave(this);
    in_write_batch_ = false;
    // Frames still held go before the goodbye while the socket is alive and takes them at
    // once; a frame cut short must not be followed by anything.
    if (socket_alive
        && output_.send_to(amqp_get_sockfd(session_->get()))
            != rabbit_output_buffer::send_result::all_sent)
        socket_alive = false;
    output_.clear();
    if (!socket_alive)
        session_->forget_login();
    heartbeat_timer_.stop();
    write_timer_.stop();
    // A notifier may be the sender of the signal that led here.
    for (QSocketNotifier** n : { &notifier_, &write_notifier_ }) {
        (*n)->setEnabled(false);
        (*n)->deleteLater();
        *n = nullptr;
    }
    session_.reset();
    draining_ = false;
    replies_.clear();
    consumers_.clear();
    incoming_ = incoming_content {};
    for (auto& entry : queues_)
        entry.second->reset();
    reconnect_timer_.start(s_reconnect_interval_ms);
    emit disconnected();
}
