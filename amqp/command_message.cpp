#include "amqp/command_message.h"

#include <QJsonDocument>

namespace {

// Text that JSON writes between quotes as it is: printable ASCII without quote or backslash.
bool plain(const QString& text)
{
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u < 0x20 || u > 0x7E || u == '"' || u == '\\')
            return false;
    }
    return true;
}

QByteArray through_qt(const QUuid& id, const QJsonObject& data, const QString& type,
    const QString& sender, int sharded)
{
    QJsonObject message;
    if (sharded != 0)
        message.insert("sharded", sharded);
    message.insert("msg_type", type);
    message.insert("sender", sender);
    message.insert("cmd_id", id.toString());
    message.insert("data", data);
    return QJsonDocument(message).toJson(QJsonDocument::Compact);
}

} // namespace

QByteArray command_message(const QUuid& id, const QJsonObject& data, const QString& type,
    const QString& sender, int sharded)
{
    if (sharded != 0 || !plain(type) || !plain(sender))
        return through_qt(id, data, type, sender, sharded);
    const QByteArray data_json = data.isEmpty()
        ? QByteArrayLiteral("{}")
        : QJsonDocument(data).toJson(QJsonDocument::Compact);
    QByteArray out;
    out.reserve(96 + data_json.size() + type.size() + sender.size());
    out += "{\"cmd_id\":\"";
    out += id.toByteArray();
    out += "\",\"data\":";
    out += data_json;
    out += ",\"msg_type\":\"";
    out += type.toLatin1();
    out += "\",\"sender\":\"";
    out += sender.toLatin1();
    out += "\"}";
    return out;
}
