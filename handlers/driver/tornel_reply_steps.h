#pragma once

#include "handlers/modem/instance_replies.h"
#include "router/json_object_builder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

// The common step of the per-meter replies: every meter of the reply, reshaped, replaces that
// meter in the merged object (a later instance wins); the answer is the merged object once
// every instance has answered.
template <class Reshape>
bool merge_meter_replies(QJsonDocument& reply, instance_replies& replies, Reshape reshape)
{
    QJsonObject meters = reply.object();
    // Reshaped in place, so that the keys keep their order; merged in one pass.
    for (auto it = meters.begin(); it != meters.end(); ++it)
        it.value() = reshape(it.value().toObject());
    if (!replies.merge(std::move(meters)))
        return false;
    reply = QJsonDocument(replies.merged);
    return true;
}

// The common completion of the two reports: every modem of the reply (in key order) becomes
// `modem_object(key, records)` joining `answer`; once every instance has answered, the answer is
// the joined array.
template <class ModemObject>
bool join_report_reply(
    QJsonDocument& reply, instance_replies& replies, QJsonArray& answer, ModemObject modem_object)
{
    const QJsonObject per_modem = reply.object();
    for (auto it = per_modem.begin(); it != per_modem.end(); ++it)
        answer.append(modem_object(it.key(), it.value().toArray()));
    if (!replies.count())
        return false;
    reply = QJsonDocument(answer);
    return true;
}
