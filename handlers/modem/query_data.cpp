#include "handlers/modem/query_data.h"

#include "router/json_helpers.h"

void insert_int(QJsonObject& data, const QString& key, const std::optional<QString>& value)
{
    if (value)
        data.insert(key, value->toInt(nullptr, 10));
}

void insert_text(QJsonObject& data, const QString& key, const std::optional<QString>& value)
{
    if (value)
        data.insert(key, *value);
}

void insert_text_list(QJsonObject& data, const QString& key, const std::optional<QString>& value)
{
    if (value)
        data.insert(key, split_to_json_array(*value));
}

void insert_bool(QJsonObject& data, const QString& key, const std::optional<QString>& value)
{
    if (value)
        data.insert(key, *value == QLatin1String("true"));
}
