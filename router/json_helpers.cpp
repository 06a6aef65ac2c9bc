#include "router/json_helpers.h"

#include "router/json_object_builder.h"
#include "router/list_items.h"

void add_api_keys(QJsonObject& params, const QStringList& api_keys)
{
    const QString key = QStringLiteral("api_key");
    QJsonArray keys = params.value(key).toArray();
    for (const QString& api_key : api_keys)
        keys.append(api_key);
    params.insert(key, keys);
}

bool merge_json_object(QJsonDocument& reply, QJsonObject& merged, int expected, int& counter)
{
    insert_all(merged, reply.object());
    ++counter;
    if (counter < expected)
        return false;
    reply = QJsonDocument(merged);
    return true;
}

namespace {

// An entry that reads as a decimal 32-bit integer goes in as a number.
void append_int(QJsonArray& numbers, QStringView entry)
{
    bool ok = false;
    const int value = item_to_int(entry, &ok);
    if (ok)
        numbers.append(value);
}

} // namespace

QJsonArray to_int_json_array(const QStringList& list)
{
    QJsonArray numbers;
    for (const QString& entry : list)
        append_int(numbers, entry);
    return numbers;
}

QJsonArray split_to_int_json_array(QStringView text)
{
    QJsonArray numbers;
    for_each_comma_item(text, [&](QStringView item) { append_int(numbers, item); });
    return numbers;
}

QJsonValue split_to_json_array(const QString& text)
{
    QJsonArray texts;
    for_each_comma_item(text, [&](QStringView item) { texts.append(item.toString()); });
    return texts;
}
