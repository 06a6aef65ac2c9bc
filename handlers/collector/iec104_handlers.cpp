#include "handlers/collector/iec104_handlers.h"

#include "handlers/modem/query_data.h"

HandlerResult IEC104SettingsHandler::get(const api_params& params)
{
    command_data data;
    insert_int(data, params, QStringLiteral("station_id"));
    insert_int(data, params, QStringLiteral("timestamp"));
    return command(QStringLiteral("iec_data_read"), params, std::move(data));
}

HandlerResult IEC104SettingsHandler::post(const api_params& params)
{
    return body_command(QStringLiteral("iec_data_write"), params);
}
