#pragma once

#include "handlers/driver/tornel_reply_steps.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

// The collector's information file, written by another component of the collector; read from
// the working directory afresh for every request, never cached.
extern const char* const collector_info_file; // "uspd_info.json"

// The file's content; empty when it is missing or cannot be read.
QByteArray read_collector_info();

// The "info" answer: the file's "SW" and "time" objects (anything else of the file left out),
// the clock of `now` laid over "time", and the driver's build time from the first instance (in
// key order) of the merged "get_info" replies; a merge without any key gives build time 0.
QJsonObject collector_info_answer(
    const QJsonObject& merged, const QByteArray& file_content, const QDateTime& now);

// Reply step of "info": merges the replies; once every instance has answered, the answer is
// built from them and the file as it is now.
bool tornel_info_reply(QJsonDocument& reply, instance_replies& replies);
