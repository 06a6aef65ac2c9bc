#include "amqp/command_message.h"

#include "json/json_text.h"

#include <algorithm>

namespace {

// The id as QUuid writes it, "{8-4-4-4-12}" in lower-case hex, without a text of its own.
char* write_id(char* at, const QUuid& id)
{
    static const char digits[] = "0123456789abcdef";
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
    return at;
}

} // namespace

QByteArray command_message(
    const QUuid& id, command_data data, const QString& type, const QString& sender, int sharded)
{
    // The keys in Qt's order: cmd_id, data, msg_type, sender, sharded.
    static const char cmd_id_key[] = "{\"cmd_id\":\"";
    static const char data_key[] = "\",\"data\":";
    char head[sizeof cmd_id_key + 38 + sizeof data_key];
    char* at = std::copy(cmd_id_key, cmd_id_key + sizeof cmd_id_key - 1, head);
    at = write_id(at, id);
    at = std::copy(data_key, data_key + sizeof data_key - 1, at);
    // Room for what follows the data when the texts are plain.
    const int tail = 48 + type.size() + sender.size();
    QByteArray out = std::move(data).compact_after(std::string_view(head, size_t(at - head)), tail);
    out += ",\"msg_type\":";
    append_qt_json_string(out, type);
    out += ",\"sender\":";
    append_qt_json_string(out, sender);
    if (sharded != 0) {
        out += ",\"sharded\":";
        out += QByteArray::number(sharded);
    }
    out += '}';
    return out;
}
