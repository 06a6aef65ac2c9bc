#pragma once

#include "amqp/rabbit_message.h"

#include <QJsonObject>

// What a link reads from the JSON object of an incoming message: "msg_type", "sender" and
// "cmd_id" as text (anything else reads as empty), and "data" as a document when it is an
// object or an array (an empty document otherwise).
rabbit_message read_incoming_message(const QJsonObject& json);
