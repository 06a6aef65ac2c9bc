#pragma once

#include "amqp/command_client.h"
#include "amqp/rabbit_message.h"
#include "amqp/rabbit_publisher.h"
#include "amqp/rabbit_receiver.h"
#include "app/logger.h"
#include "app/rabbit_api_config.h"

#include <QObject>
#include <QTimer>
#include <QUuid>
#include <map>
#include <memory>

struct pending_command
{
    std::function<bool(QJsonDocument)> resultHandler;
    std::function<void(QString)> errorHandler;
    std::shared_ptr<QTimer> timer;
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
    void send_cmd(QString type, QJsonObject data, QString routingKey,
        std::function<bool(QJsonDocument)> resultHandler, std::function<void(QString)> errorHandler,
        int sharded = 0) override;
    rabbit_api_config config();
    void send_cmd_forward(QString type, QJsonObject data, QString routeKey) override;

private:
    // Hands a reply to its command; a handler that throws ends the command through its error
    // handler. Never throws.
    void take_reply(const rabbit_message& message);
    void on_command_timeout(const QUuid& id);
    // The routing key of the first binding: where peers publish their replies to this link.
    QString sender() const;

    rabbit_api_config config_;
    rabbit_receiver receiver_;
    rabbit_publisher<rabbit_publisher_config> publisher_;
    command_factory factory_;
    std::map<QUuid, pending_command> pending_;
    logger& log_;
};
