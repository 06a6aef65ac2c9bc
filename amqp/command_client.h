#pragma once

#include "amqp/command_data.h"

#include <QJsonDocument>
#include <QString>
#include <functional>
#include <stdexcept>

// A command larger than the link ever takes. Thrown by send_cmd and send_cmd_forward before
// anything is pending or queued, so that the caller is answered now rather than at the
// time-out of a command that could never leave.
class command_too_large : public std::length_error
{
public:
    command_too_large(qint64 size, qint64 limit)
        : std::length_error("command larger than the AMQP link takes")
        , size_(size)
        , limit_(limit)
    { }
    // The command's bytes, envelope included, and the most the link takes.
    qint64 size() const { return size_; }
    qint64 limit() const { return limit_; }

private:
    qint64 size_;
    qint64 limit_;
};

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
    // text and the reply is rejected. A command over the link's bound throws command_too_large
    // and neither handler is ever called.
    virtual void send_cmd(QString type, command_data data, QString routingKey,
        result_handler resultHandler, error_handler errorHandler, int sharded = 0)
        = 0;
    // Publishes a command and waits for nothing; command_too_large as above.
    virtual void send_cmd_forward(QString type, command_data data, QString routeKey) = 0;
};
