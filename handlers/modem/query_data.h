#pragma once

#include "amqp/command_data.h"
#include "routes/api_params.h"

#include <QString>
#include <optional>

// How query texts become command data. Each helper writes only when the item was given.

// A base-10 32-bit integer; a text that is no such number sends 0.
void insert_int(command_data& data, const QString& key, const std::optional<QString>& value);
// The text as it came.
void insert_text(command_data& data, const QString& key, const std::optional<QString>& value);
// The text split at every ",", empty pieces kept, as an array of strings (a ready member).
void insert_text_list(command_data& data, const QString& key, const std::optional<QString>& value);
// true exactly for "true"; any other text sends false.
void insert_bool(command_data& data, const QString& key, const std::optional<QString>& value);

// The same for the item of that name of a parameter record, under the same name.
inline void insert_int(command_data& data, const api_params& params, const QString& key)
{
    insert_int(data, key, params.value(key));
}
inline void insert_text(command_data& data, const api_params& params, const QString& key)
{
    insert_text(data, key, params.value(key));
}
inline void insert_text_list(command_data& data, const api_params& params, const QString& key)
{
    insert_text_list(data, key, params.value(key));
}
inline void insert_bool(command_data& data, const api_params& params, const QString& key)
{
    insert_bool(data, key, params.value(key));
}
