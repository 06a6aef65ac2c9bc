#include "router/json_helpers.h"

#include "router/json_object_builder.h"
#include "router/list_items.h"
#include "json/json_array_text.h"

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

QByteArray split_to_int_json_text(QStringView text)
{
    json_array_text numbers;
    for_each_comma_run(text, [&](QStringView item, qsizetype count) {
        bool ok = false;
        const int value = item_to_int(item, &ok);
        if (ok)
            numbers.add_int(value, count);
    });
    return numbers.take();
}

QByteArray split_to_json_text(QStringView text)
{
    json_array_text texts;
    for_each_comma_run(
        text, [&](QStringView item, qsizetype count) { texts.add_string(item, count); });
    return texts.take();
}

QJsonValue split_to_json_array(const QString& text)
{
    QJsonArray texts;
    for_each_comma_item(text, [&](QStringView item) { texts.append(item.toString()); });
    return texts;
}
