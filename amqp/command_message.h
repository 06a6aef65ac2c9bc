#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QUuid>

// The body of a command: {"cmd_id", "data", "msg_type", "sender"} and "sharded" when it is not
// 0, byte for byte what QJsonDocument::toJson(QJsonDocument::Compact) writes for that object.
// The usual command (plain names, sharded 0) is written directly, which spares building the
// object; anything else goes through QJsonDocument.
QByteArray command_message(const QUuid& id, const QJsonObject& data, const QString& type,
    const QString& sender, int sharded);
