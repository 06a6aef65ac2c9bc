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

// Plain text (see plain()) as its Latin-1 bytes, a stack chunk at a time rather than a call
// per character.
void append_plain(QByteArray& out, const QString& text)
{
    char chunk[64];
    int used = 0;
    for (const QChar c : text) {
        chunk[used++] = char(c.unicode());
        if (used == int(sizeof chunk)) {
            out.append(chunk, used);
            used = 0;
        }
    }
    out.append(chunk, used);
}

// The id as QUuid writes it, "{8-4-4-4-12}" in lower-case hex, without a text of its own.
void append_id(QByteArray& out, const QUuid& id)
{
    static const char digits[] = "0123456789abcdef";
    char text[38];
    char* at = text;
    const auto hex = [&at](quint64 value, int count) {
        for (int shift = 4 * (count - 1); shift >= 0; shift -= 4)
            *at++ = digits[(value >> shift) & 0xf];
    };
    *at++ = '{';
    hex(id.data1, 8);
    *at++ = '-';
    hex(id.data2, 4);
    *at++ = '-';
    hex(id.data3, 4);
    *at++ = '-';
    hex((quint64(id.data4[0]) << 8) | id.data4[1], 4);
    *at++ = '-';
    quint64 node = 0;
    for (int i = 2; i < 8; ++i)
        node = (node << 8) | id.data4[i];
    hex(node, 12);
    *at++ = '}';
    out.append(text, int(sizeof text));
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
    append_id(out, id);
    out += "\",\"data\":";
    out += data_json;
    out += ",\"msg_type\":\"";
    append_plain(out, type);
    out += "\",\"sender\":\"";
    append_plain(out, sender);
    out += "\"}";
    return out;
}
