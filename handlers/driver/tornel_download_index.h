#pragma once

#include "handlers/modem/instance_replies.h"

#include <QJsonDocument>
#include <QString>

class access_helper;

// Downlink commands sent to meters are named to callers by a download index that the access
// store hands out for the driver's database id; "cmd/status" names them by that index again.
// A failing store raises out of these steps: no index is answered that was not stored. The
// reading steps put all of their questions to the store at once.

// Reply step of "cmd/send": each reply key gets the index registered for its "bd_id" (0, and
// nothing registered, when the reply has none); the answer is {"cmd_id": {key: index}}. The ids
// are registered one after another, so the first failure leaves nothing stored after it.
bool tornel_send_reply(QJsonDocument& reply, instance_replies& replies, access_helper& access);

// The database ids of the "cmd_id" items (split at ",", each read as a decimal index, other
// text as 0), in order, as the ready text of a JSON array of strings; 403 "Unknown cmd_id: " and
// the first item the store does not know. The store is asked about each distinct index once, in
// the order they first come.
QByteArray db_ids_of_commands(const QString& cmd_id, access_helper& access);

// Reply step of "cmd/status": each reply key (a database id) turned back into its index, with
// the driver's "dl_status": "EXECUTED" answers "DONE", "TIMEOUT" "FAILED", others as they are.
bool tornel_status_reply(QJsonDocument& reply, instance_replies& replies, access_helper& access);
