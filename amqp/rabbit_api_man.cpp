#include "amqp/rabbit_api_man.h"

#include "amqp/command_id.h"
#include "amqp/command_message.h"
#include "amqp/incoming_message.h"

#include <QCoreApplication>
#include <QEvent>
#include <QJsonArray>
#include <QPointer>
#include <algorithm>
#include <stdexcept>

static int s_command_timeout_ms = 1800000;

void rabbit_api_man::set_command_timeout_ms(int ms)
{
    s_command_timeout_ms = ms;
}
int rabbit_api_man::command_timeout_ms()
{
    return s_command_timeout_ms;
}

static const QString timeout_text = QStringLiteral("rabbit command execution timeout");
static const QString key_refused_text = QStringLiteral("Routing key longer than %1 bytes")
                                            .arg(rabbit_publisher_impl::max_routing_key);

static QEvent::Type publish_event_type()
{
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

static qint64 elapsed_ms(command_deadlines::clock::time_point since)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        command_deadlines::clock::now() - since)
        .count();
}

static rabbit_receiver_config receiver_config(const rabbit_api_config& c)
{
    return rabbit_receiver_config { c.url, c.queue, c.vhost, c.bindings, c.queue_options,
        c.prefetch, c.declare_arguments };
}

static rabbit_publisher_config publisher_config(const rabbit_api_config& c)
{
    return rabbit_publisher_config { c.url, c.exchange, c.vhost };
}

// Refused before it is pending or queued: a message the link never takes would otherwise be
// dropped on its way out, and its caller left waiting for the time-out.
static QByteArray checked_size(QByteArray message)
{
    if (size_t(message.size()) > rabbit_publisher_impl::max_message_bytes)
        throw command_too_large(message.size(), qint64(rabbit_publisher_impl::max_message_bytes));
    return message;
}

static QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

rabbit_api_man::rabbit_api_man(
    logger& log, rabbit_api_config&& config, command_factory factory, QObject* parent)
    : QObject(parent)
    , config_(std::move(config))
    , receiver_(log, receiver_config(config_), this, false, false)
    , publisher_(log, publisher_config(config_), this)
    , factory_(std::move(factory))
    , log_(log)
{
    for (const QString& part : config_.skipped_bindings)
        log_line(log_, LOG_ERROR) << "rabbit_api_man: binding \"" << part << "\" of queue "
                                  << config_.queue << " has no \":\" and is skipped";
    if (config_.bindings.isEmpty())
        log_line(log_, LOG_ERROR) << "rabbit_api_man: no binding configured for queue "
                                  << config_.queue << ", commands go out with an empty sender";
    connect(&receiver_, &rabbit_receiver::data_received, this, &rabbit_api_man::listen);
    deadline_timer_.setSingleShot(true);
    deadline_timer_.setTimerType(Qt::PreciseTimer);
    connect(&deadline_timer_, &QTimer::timeout, this, &rabbit_api_man::on_deadline);
}

rabbit_api_man::~rabbit_api_man() = default;

QString rabbit_api_man::sender() const
{
    return config_.bindings.isEmpty() ? QString() : config_.bindings.first().second;
}

rabbit_api_config rabbit_api_man::config()
{
    return config_;
}

void rabbit_api_man::send_cmd(QString type, command_data data, QString routingKey,
    std::function<bool(QJsonDocument)> resultHandler, std::function<void(QString)> errorHandler,
    int sharded)
{
    const QByteArray key = rabbit_publisher_impl::wire_key(routingKey.toLatin1());
    if (!publisher_.key_fits(key)) {
        // Refused before it is pending: the caller is answered on the next pass and the
        // connection is left alone.
        QMetaObject::invokeMethod(
            this, [handler = std::move(errorHandler)] { handler(key_refused_text); },
            Qt::QueuedConnection);
        return;
    }
    const QUuid id = new_command_id();
    QByteArray message
        = checked_size(command_message(id, std::move(data), type, sender(), sharded));
    const auto now = command_deadlines::clock::now();
    const std::uint64_t serial = ++last_serial_;
    pending_.insert_or_assign(id,
        pending_command {
            std::make_shared<const std::function<bool(QJsonDocument)>>(std::move(resultHandler)),
            std::move(errorHandler), now, serial });
    const bool earliest
        = deadlines_.add({ now + std::chrono::milliseconds(s_command_timeout_ms), serial, id });
    if (earliest || !deadline_timer_.isActive())
        arm_deadline_timer();
    // Entries of completed commands are cleared once they outnumber the commands in flight,
    // which keeps the list within twice its need at a cost of O(1) per command.
    if (deadlines_.size() > 2 * pending_.size() + 64)
        deadlines_.drop([this](const command_deadlines::entry& e) { return !in_flight(e); });

    // Published on a later pass of the event loop, when the entry is surely in place.
    outbox_.push_back({ std::move(message), key });
    post_publish();
}

bool rabbit_api_man::event(QEvent* event)
{
    if (event->type() != publish_event_type())
        return QObject::event(event);
    publish_posted_ = false;
    publish_queued();
    return true;
}

void rabbit_api_man::publish_queued()
{
    // Over a live connection each publish returns at once, and the rest go out in this pass
    // without one more pass of the loop before they leave; with the connection down they
    // wait in the publisher, in this order.
    while (!outbox_.empty()) {
        outgoing next = std::move(outbox_.front());
        outbox_.pop_front();
        // Moved on: the output buffer keeps the message itself until its bytes have left.
        publisher_.publish_string(std::move(next.body), std::move(next.routing_key));
    }
}

void rabbit_api_man::post_publish()
{
    if (publish_posted_)
        return;
    publish_posted_ = true;
    QCoreApplication::postEvent(this, new QEvent(publish_event_type()));
}

bool rabbit_api_man::in_flight(const command_deadlines::entry& entry) const
{
    const auto it = pending_.find(entry.id);
    return it != pending_.end() && it->second.serial == entry.serial;
}

void rabbit_api_man::arm_deadline_timer()
{
    while (deadlines_.front() && !in_flight(*deadlines_.front()))
        deadlines_.pop_front();
    const command_deadlines::entry* next = deadlines_.front();
    if (!next) {
        deadline_timer_.stop();
        return;
    }
    const auto left
        = std::chrono::ceil<std::chrono::milliseconds>(next->due - command_deadlines::clock::now());
    deadline_timer_.start(int(std::max<qint64>(left.count(), 0)));
}

void rabbit_api_man::on_deadline()
{
    QPointer<rabbit_api_man> self(this);
    while (const auto due = deadlines_.take_due(command_deadlines::clock::now())) {
        if (!in_flight(*due))
            continue;
        on_command_timeout(due->id);
        if (!self)
            return;
    }
    arm_deadline_timer();
}

void rabbit_api_man::send_cmd_forward(QString type, command_data data, QString routeKey)
{
    publisher_.publish_string(
        checked_size(command_message(new_command_id(), std::move(data), type, sender(), 0)),
        routeKey.toLatin1());
}

void rabbit_api_man::listen(QJsonObject json, uint64_t message_tag)
{
    const rabbit_message message = read_incoming_message(json);

    // Handlers may do anything, end this link or its commands included; after each call the
    // link and the entry are looked up again.
    QPointer<rabbit_api_man> self(this);
    bool handled = true;
    try {
        if (message.msg_type == QLatin1String("response")) {
            handled = take_reply(message);
            if (!self)
                return;
        } else {
            if (!factory_)
                throw std::runtime_error("this link executes no commands");
            std::shared_ptr<ICommandHandler> handler = factory_(message.msg_type);
            if (!handler)
                throw std::runtime_error("no handler for " + message.msg_type.toStdString());
            QJsonObject reply;
            reply.insert("cmd_id", message.cmd_id.toString());
            reply.insert("data", handler->execute(message));
            reply.insert("msg_type", "response");
            publisher_.publish_string(compact(reply), message.sender.toLatin1());
            if (!self)
                return;
        }
    } catch (const std::exception&) {
        handled = false;
    }
    if (!self)
        return;
    if (handled)
        receiver_.ack_message(message_tag, false);
    else
        receiver_.reject_message(message_tag);
}

bool rabbit_api_man::take_reply(const rabbit_message& message)
{
    auto it = pending_.find(message.cmd_id);
    if (it == pending_.end())
        return true;
    QPointer<rabbit_api_man> self(this);
    const auto handler = it->second.resultHandler;
    bool complete = false;
    bool failed = true;
    QString failure = QStringLiteral("reply processing failed");
    try {
        complete = (*handler)(message.data);
        failed = false;
    } catch (const std::exception& e) {
        failure = QString::fromUtf8(e.what());
    } catch (...) { }
    if (!self)
        return !failed;
    it = pending_.find(message.cmd_id);
    if (it == pending_.end())
        return !failed;
    if (failed) {
        // Ended through its error path now rather than at its time-out. The reply goes where
        // rejected messages go, so a dead-letter queue shows the commands that failed; the
        // handler's owner logs the failure, as it knows what the command was.
        const auto on_error = it->second.errorHandler;
        pending_.erase(it);
        on_error(failure);
        return false;
    }
    if (!complete)
        return true;
    if (log_.accepts(LOG_DEBUG)) {
        const int elapsed = int(elapsed_ms(it->second.sent));
        log_line(log_, LOG_DEBUG) << "Rabbit executed :" << message.cmd_id.toString() << " "
                                  << elapsed << " ms";
    }
    pending_.erase(it);
    return true;
}

void rabbit_api_man::on_command_timeout(const QUuid& id)
{
    if (log_.accepts(LOG_DEBUG))
        log_line(log_, LOG_DEBUG) << "Timeout :" << id.toString();
    auto it = pending_.find(id);
    if (it == pending_.end())
        return;
    const auto handler = it->second.errorHandler;
    QPointer<rabbit_api_man> self(this);
    handler(timeout_text);
    if (!self)
        return;
    pending_.erase(id);
}
