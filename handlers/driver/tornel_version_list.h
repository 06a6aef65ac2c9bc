#pragma once

#include "handlers/driver/tornel_reply_steps.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QList>
#include <QMap>
#include <QString>

// Meters grouped by the hardware and the software text of their "version" setting; the ids in
// the order they were met, across all replies of one command.
struct version_groups
{
    QMap<QString, QList<qint64>> hw;
    QMap<QString, QList<qint64>> sw;
};

QJsonArray int_list_to_json_array(const QList<qint64>& list);

// Reply step of "setting/version_list": groups the meters of each reply; once every instance
// has answered, the answer is {"hw", "hw_size", "sw", "sw_size"} of the groups.
bool tornel_version_list_reply(
    QJsonDocument& reply, instance_replies& replies, version_groups& groups);
