#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QUuid>
#include <functional>
#include <memory>

// One incoming AMQP command as handed to its handler.
struct rabbit_message
{
    QUuid cmd_id;
    QString msg_type;
    QString sender;
    QJsonDocument data;
};

// The interface of one incoming command type.
class ICommandHandler
{
public:
    virtual ~ICommandHandler() = default;
    virtual QJsonObject execute(const rabbit_message& message) = 0;
    virtual QString name() = 0;
};

using command_factory = std::function<std::shared_ptr<ICommandHandler>(const QString&)>;
