#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringView>
#include <algorithm>
#include <vector>

// The replies of the application service's instances to one command, as far as they came.
// Every instance answers each command; the answer is complete once `expected` have come.
struct instance_replies
{
    explicit instance_replies(int instance_count = 1)
        : expected(std::max(instance_count, 1))
    { }

    void reset()
    {
        merged = QJsonObject();
        waiting.clear();
        counter = 0;
    }
    // Counts one reply; true once the last expected one has come.
    bool count() { return ++counter >= expected; }
    // Counts one reply's object, to be merged into `merged` (a later reply winning a key); true
    // once the last expected one has come and `merged` holds them all. The objects wait to be
    // merged at once: merged one after another, k replies would cost k times their total.
    bool merge(QJsonObject part);

    QJsonObject merged;
    std::vector<QJsonObject> waiting;
    int counter = 0;
    // A count that is no number reads as 0 (or a negative count): one reply answers then.
    int expected = 1;
};

// The merge of most modem commands: the reply's top-level keys go into the merged object (a
// later reply wins per key; a reply that is not an object adds nothing but still counts); once
// every instance has answered, the document becomes the merged object and true is returned.
bool merge_instance_replies(QJsonDocument& reply, instance_replies& replies);

// The merged object's `member` as a top-level array; an empty array when it is missing or not
// an array.
QJsonDocument member_array_answer(const QJsonObject& merged, const QString& member);

// The merged object under one key: {key: merged}.
QJsonDocument keyed_answer(const QString& key, const QJsonObject& merged);

// The device descriptions of the requested modems (`requested`: the caller's comma list): each
// reply key keeps its value as an object (anything else becomes {}); once every instance has
// answered, each requested part without a description is added as {"supported": false}.
bool device_supported_reply(QJsonDocument& reply, instance_replies& replies, QStringView requested);
