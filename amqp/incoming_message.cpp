#include "amqp/incoming_message.h"

#include <QJsonArray>
#include <QJsonValue>

rabbit_message read_incoming_message(const QJsonObject& json)
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
    return message;
}
