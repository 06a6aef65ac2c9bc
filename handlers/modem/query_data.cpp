#include "handlers/modem/query_data.h"

#include "router/json_helpers.h"

void insert_int(command_data& data, const QString& key, const std::optional<QString>& value)
{
    if (value)
        data.insert(key, value->toInt(nullptr, 10));
}

void insert_text(command_data& data, const QString& key, const std::optional<QString>& value)
{
    if (value)
        data.insert(key, *value);
}

void insert_text_list(command_data& data, const QString& key, const std::optional<QString>& value)
{
    if (value)
        data.insert_ready(key, split_to_json_text(*value));
}

void insert_bool(command_data& data, const QString& key, const std::optional<QString>& value)
{
    if (value)
        data.insert(key, *value == QLatin1String("true"));
}
