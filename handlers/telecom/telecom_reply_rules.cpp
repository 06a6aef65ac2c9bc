#include "handlers/telecom/telecom_reply_rules.h"

#include <QJsonArray>

bool wait_all_replies::collect_reply(QJsonDocument&, const QJsonObject&, int instances)
{
    return ++counter >= instances;
}

bool first_nonempty_object_reply::collect_reply(
    QJsonDocument& reply, const QJsonObject&, int instances)
{
    if (++counter >= instances)
        return true;
    return !reply.object().isEmpty();
}

bool first_nonempty_array_reply::collect_reply(
    QJsonDocument& reply, const QJsonObject&, int instances)
{
    if (++counter >= instances)
        return true;
    return !reply.array().isEmpty();
}

bool first_reply::collect_reply(QJsonDocument&, const QJsonObject&, int)
{
    return true;
}
