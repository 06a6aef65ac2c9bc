// Bytes as the body of an incoming AMQP message, read the way a link reads it: the JSON object
// of the body, the command in it, the user-database push executed into its staging tables,
// and the answer written back. The fast writer of commands must say byte for byte what the
// JSON writer says.
#include "access/clients_devices_command.h"
#include "amqp/command_message.h"
#include "amqp/incoming_message.h"
#include "fuzz_app.h"
#include "json/json_document.h"

#include <QJsonDocument>
#include <QTimer>
#include <cstdint>
#include <cstdlib>

namespace {

QByteArray through_json_writer(const rabbit_message& m, const QJsonObject& data)
{
    QJsonObject object { { "cmd_id", m.cmd_id.toString() }, { "data", data },
        { "msg_type", m.msg_type }, { "sender", m.sender } };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    start_fuzz_app();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static ownership_table devices, stations;
    static const auto timer = std::make_shared<QTimer>();

    const QByteArray body(reinterpret_cast<const char*>(data), int(size));
    const rabbit_message message = read_incoming_message(read_json_document(body).object());

    ClientsDevicesCommand push(&devices, &stations, timer);
    if (message.msg_type == push.name()) {
        QJsonObject reply;
        reply.insert("cmd_id", message.cmd_id.toString());
        reply.insert("data", push.execute(message));
        reply.insert("msg_type", "response");
        QJsonDocument(reply).toJson(QJsonDocument::Compact);
        devices.clear();
        stations.clear();
    }

    const QJsonObject command_data = message.data.object();
    if (command_message(message.cmd_id, command_data, message.msg_type, message.sender, 0)
        != through_json_writer(message, command_data))
        std::abort();
    return 0;
}
