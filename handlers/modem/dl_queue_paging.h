#pragma once

#include "handlers/modem/instance_replies.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>

// One page of a caller's modems for the downlink queue: the ids sorted as text ("10" before
// "9"), an offset past the end moved to the last id (limit 1), a limit past the end cut to it,
// then the page taken as QList::mid takes it. "offset" and "limit" of the command data are
// rewritten to what was used. The sums are 64-bit: any 32-bit offset and limit are safe.
void page_modem_list(QJsonObject& data, QStringList& modems);

// What the answer of a queue read is made from, fixed when the command is built: modem ids
// may name members of the command data ("mode", "admin", ...), so nothing is read back from it.
struct dl_queue_request
{
    QString mode;
    bool restricted = false;
    // A restricted caller's modem count ("modem_count") or page of modems ("modem_list").
    qint64 total_modems = 0;
    QJsonArray modem_list;
};

// The post-processor of a queue read. A restricted caller's count or list is answered locally
// once every instance has replied; "queue_list" merges every reply's "all"."dl" members; any
// other read is the plain instance merge.
bool dl_queue_reply(QJsonDocument& reply, instance_replies& replies, const dl_queue_request& sent);
