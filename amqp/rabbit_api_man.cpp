#include "amqp/rabbit_api_man.h"

#include "amqp/command_id.h"
#include "amqp/command_message.h"

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

static rabbit_receiver_config receiver_config(const rabbit_api_config& c)
{
    return rabbit_receiver_config { c.url, c.queue, c.vhost, c.bindings, c.queue_options,
        c.prefetch, c.declare_arguments };
}

static rabbit_publisher_config publisher_config(const rabbit_api_config& c)
{
    return rabbit_publisher_config { c.url, c.exchange, c.vhost };
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

void rabbit_api_man::send_cmd(QString type, QJsonObject data, QString routingKey,
    std::function<bool(QJsonDocument)> resultHandler, std::function<void(QString)> errorHandler,
    int sharded)
{
    const QUuid id = new_command_id();

    // The entry may be removed inside the timer's own timeout signal, so the timer is only
    // ever released through deleteLater.
    std::shared_ptr<QTimer> timer(new QTimer, [](QTimer* t) {
        t->stop();
        t->deleteLater();
    });
    timer->setInterval(s_command_timeout_ms);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    connect(
        timer.get(), &QTimer::timeout, timer.get(), [this, id] { on_command_timeout(id); },
        Qt::DirectConnection);
    timer->start();
    pending_.insert_or_assign(
        id, pending_command { std::move(resultHandler), std::move(errorHandler), timer });

    // Published on a later pass of the event loop, when the entry is surely in place.
    const QByteArray body = command_message(id, data, type, sender(), sharded);
    const QByteArray key = routingKey.toLatin1();
    auto* publisher = &publisher_;
    QMetaObject::invokeMethod(
        publisher, [publisher, body, key] { publisher->publish_string(body, key); },
        Qt::QueuedConnection);
}

void rabbit_api_man::send_cmd_forward(QString type, QJsonObject data, QString routeKey)
{
    publisher_.publish_string(
        command_message(new_command_id(), data, type, sender(), 0), routeKey.toLatin1());
}

void rabbit_api_man::listen(QJsonObject json, uint64_t message_tag)
{
    rabbit_message message;
    message.msg_type = json.value("msg_type").toString();
    message.sender = json.value("sender").toString();
    message.cmd_id = QUuid(json.value("cmd_id").toString());
    const QJsonValue data = json.value("data");
    if (data.isObject())
        message.data = QJsonDocument(data.toObject());
    else if (data.isArray())
        message.data = QJsonDocument(data.toArray());

    // Handlers may run nested event loops in which anything can happen, this link's end
    // included; after each call the link and the entry are looked up again.
    QPointer<rabbit_api_man> self(this);
    bool handled = true;
    try {
        if (message.msg_type == QLatin1String("response")) {
            take_reply(message);
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

void rabbit_api_man::take_reply(const rabbit_message& message)
{
    auto it = pending_.find(message.cmd_id);
    if (it == pending_.end())
        return;
    QPointer<rabbit_api_man> self(this);
    const auto handler = it->second.resultHandler;
    bool complete = false;
    bool failed = true;
    QString failure = QStringLiteral("reply processing failed");
    try {
        complete = handler(message.data);
        failed = false;
    } catch (const std::exception& e) {
        failure = QString::fromUtf8(e.what());
    } catch (...) { }
    if (!self)
        return;
    it = pending_.find(message.cmd_id);
    if (it == pending_.end())
        return;
    if (failed) {
        // The reply itself was fine: it is acked, and the command ends through its error
        // path instead of waiting for its time-out.
        log_line(log_, LOG_ERROR) << "Rabbit reply handling failed :" << message.cmd_id.toString()
                                  << " " << failure;
        const auto on_error = it->second.errorHandler;
        pending_.erase(it);
        on_error(failure);
        return;
    }
    if (!complete)
        return;
    if (log_.accepts(LOG_DEBUG)) {
        const QTimer& timer = *it->second.timer;
        const int elapsed = timer.interval() - std::max(timer.remainingTime(), 0);
        log_line(log_, LOG_DEBUG) << "Rabbit executed :" << message.cmd_id.toString() << " "
                                  << elapsed << " ms";
    }
    pending_.erase(it);
}

void rabbit_api_man::on_command_timeout(const QUuid& id)
{
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
