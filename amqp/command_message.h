#pragma once

#include "amqp/command_data.h"

#include <QByteArray>
#include <QString>
#include <QUuid>

// The body of a command: {"cmd_id", "data", "msg_type", "sender"} and "sharded" when it is not
// 0, byte for byte what QJsonDocument::toJson(QJsonDocument::Compact) writes for that object
// (with the data's ready members parsed in). Written piece by piece: the message is the one
// copy of the data's text, and takes a ready text that is all the data holds as it is.
QByteArray command_message(
    const QUuid& id, command_data data, const QString& type, const QString& sender, int sharded);
