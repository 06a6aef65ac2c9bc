#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

// The reply merges of the telecom commands whose answer is built from the replies of all N
// back-end instances: each keeps what the replies bring until the N-th has come, then writes
// the answer into that reply's document. Replies of the wrong shape count and add nothing.

// The members of a request that the merges below read ("limit" and "time_saved"): all that a
// telecom command keeps of its request while it waits for its replies.
inline const char* const telecom_reply_reads[] = { "limit", "time_saved" };

// The N replies, each read as an object, as one array in arrival order.
struct object_list_merge
{
    int counter = 0;
    QJsonArray objects;
    bool collect_reply(QJsonDocument& reply, const QJsonObject& request, int instances);
};

// Device lists: array replies are joined; when the N-th reply is an object, the object replies
// are summed into one ("modems" added up, "x_ids", "types" and "protocols" joined).
struct device_list_merge
{
    QJsonArray objects;
    QJsonArray elements;
    int counter = 0;
    bool collect_reply(QJsonDocument& reply, const QJsonObject& request, int instances);
};

// The object that sums the device objects.
QJsonObject sum_device_objects(const QJsonArray& objects);

// Message lists: array replies joined, newest first by the request's time key, cut to the
// request's "limit" (100 when absent; negative keeps all).
struct message_list_merge
{
    QJsonArray elements;
    int counter = 0;
    bool collect_reply(QJsonDocument& reply, const QJsonObject& request, int instances);
};

// Downlink message lists: the same, newest first by "posted_time".
struct dl_message_list_merge
{
    QJsonArray elements;
    int counter = 0;
    bool collect_reply(QJsonDocument& reply, const QJsonObject& request, int instances);
};

// The first `limit` elements; a negative limit keeps all.
QJsonArray first_elements(const QJsonArray& elements, qint64 limit);
