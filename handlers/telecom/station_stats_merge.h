#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>

// The base-station statistics of N back-end instances merged into one answer of the same
// shape: counts summed, averages averaged again over the replies that gave a positive value,
// id lists united and sorted, alarms overlaid. The merge runs once, at the N-th reply.
struct station_stats_merge
{
    QList<QJsonObject> replies;
    int counter = 0;
    bool collect_reply(QJsonDocument& reply, const QJsonObject& request, int instances);
};

// The merged answer of the given replies, in arrival order.
QJsonObject merge_station_stats(const QList<QJsonObject>& replies);

// The values sorted ascending without repeats: numbers by value first, then texts, then the
// other kinds, so that the order is total whatever the replies hold.
QJsonArray sorted_unique_ids(const QJsonArray& ids);
