#pragma once

#include "handlers/driver/tornel_reply_steps.h"

#include <QJsonDocument>
#include <QJsonObject>

// The driver's stored state of one meter, in the shape the driver's interface reads: the state
// keys as they are, the archive descriptions by kind ("13_month", "14_day", "15_hour"), the
// twelve event archives "0_event" to "11_event", and every other non-archive key under
// "settings".
QJsonObject modem_state_answer(const QJsonObject& state);

// Reply step of "RAM/indexes": each meter of the reply, reshaped, replaces that meter in the
// merged object; the answer is the merged object once every instance has answered.
bool tornel_modem_info_reply(QJsonDocument& reply, instance_replies& replies);
