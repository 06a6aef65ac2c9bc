#include "handlers/modem/iec104_handlers.h"

namespace {

// A given item becomes a JSON integer; a text that is no base-10 32-bit number sends 0.
void insert_number(QJsonObject& data, const api_params& params, const QString& key)
{
    if (const auto value = params.value(key))
        data.insert(key, value->toInt(nullptr, 10));
}

} // namespace

HandlerResult IEC104SettingsHandler::get(const api_params& params)
{
    QJsonObject data;
    insert_number(data, params, QStringLiteral("station_id"));
    insert_number(data, params, QStringLiteral("timestamp"));
    return command(QStringLiteral("iec_data_read"), params, data);
}

HandlerResult IEC104SettingsHandler::post(const api_params& params)
{
    return body_command(QStringLiteral("iec_data_write"), params);
}
