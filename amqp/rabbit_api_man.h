#pragma once

#include "amqp/command_client.h"
#include "amqp/command_deadlines.h"
#include "amqp/rabbit_message.h"
#include "amqp/rabbit_publisher.h"
#include "amqp/rabbit_receiver.h"
#include "app/logger.h"
#include "app/rabbit_api_config.h"

#include <QObject>
#include <QTimer>
#include <QUuid>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <unordered_map>

struct pending_command
{
    // Shared: a reply runs it while its entry may go away, without a copy of what it holds.
    std::shared_ptr<const std::function<bool(QJsonDocument)>> resultHandler;
    std::function<void(QString)> errorHandler;
    command_deadlines::clock::time_point sent;
    std::uint64_t serial = 0; // of its entry in the deadline list
};

// One AMQP command link: commands out with correlation ids, replies and incoming commands in.
class rabbit_api_man : public QObject, public command_client
{
    Q_OBJECT
public:
    rabbit_api_man(logger& log, rabbit_api_config&& config, command_factory factory,
        QObject* parent = nullptr);
    ~rabbit_api_man() override;

    // Test seam: production keeps 1,800,000 ms.
    static void set_command_timeout_ms(int ms);
    static int command_timeout_ms();

public slots:
    void listen(QJsonObject json, uint64_t message_tag);
    void send_cmd(QString type, command_data data, QString routingKey,
        std::function<bool(QJsonDocument)> resultHandler, std::function<void(QString)> errorHandler,
        int sharded = 0) override;
    rabbit_api_config config();
    void send_cmd_forward(QString type, command_data data, QString routeKey) override;

protected:
    bool event(QEvent* event) override;

private:
    // Hands a reply to its command. A handler that throws ends the command through its error
    // handler, and the answer is false: the reply is to be rejected. Never throws.
    bool take_reply(const rabbit_message& message);
    struct uuid_hash
    {
        std::size_t operator()(const QUuid& id) const { return qHash(id); }
    };
    struct outgoing
    {
        QByteArray body;
        QByteArray routing_key;
    };

    void on_command_timeout(const QUuid& id);
    // Ends the commands whose time is up and sets the timer for the next one.
    void on_deadline();
    void arm_deadline_timer();
    bool in_flight(const command_deadlines::entry& entry) const;
    // Publishes the commands queued since the last pass of the event loop, in order.
    void publish_queued();
    void post_publish();
    // The routing key of the first binding: where peers publish their replies to this link.
    QString sender() const;

    rabbit_api_config config_;
    rabbit_receiver receiver_;
    rabbit_publisher<rabbit_publisher_config> publisher_;
    command_factory factory_;
    std::unordered_map<QUuid, pending_command, uuid_hash> pending_;
    // One timer for the time-outs of all commands: a timer object per command costs more than
    // the rest of sending it.
    command_deadlines deadlines_;
    QTimer deadline_timer_;
    std::uint64_t last_serial_ = 0;
    // Commands go out on the pass of the event loop after send_cmd, all of a pass together.
    std::deque<outgoing> outbox_;
    bool publish_posted_ = false;
    logger& log_;
};
