#pragma once

#include "amqp/command_data.h"

#include <QJsonDocument>
#include <QString>
#include <functional>

// The request road's view of the AMQP command link: a seam so the delivery can be tested
// with a fake.
class command_client
{
public:
    using result_handler = std::function<bool(QJsonDocument)>;
    using error_handler = std::function<void(QString)>;

    virtual ~command_client() = default;
    // Sends a command and hands every reply with its id to resultHandler until it returns
    // true; errorHandler gets "rabbit command execution timeout" when none completes it. A
    // resultHandler that throws fails the command at once: errorHandler gets the exception's
    // text and the reply is rejected.
    virtual void send_cmd(QString type, command_data data, QString routingKey,
        result_handler resultHandler, error_handler errorHandler, int sharded = 0)
        = 0;
    // Publishes a command and waits for nothing.
    virtual void send_cmd_forward(QString type, command_data data, QString routeKey) = 0;
};
