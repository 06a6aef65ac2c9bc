#include "router/json_helpers.h"

#include "router/json_object_builder.h"

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

QJsonArray to_int_json_array(const QStringList& list)
{
    QJsonArray numbers;
    for (const QString& entry : list) {
        bool ok = false;
        const int value = entry.toInt(&ok, 10);
        if (ok)
            numbers.append(value);
    }
    return numbers;
}

QJsonValue split_to_json_array(const QString& text)
{
    return QJsonArray::fromStringList(text.split(QLatin1Char(',')));
}
