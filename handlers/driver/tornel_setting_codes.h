#pragma once

#include "handlers/driver/tornel_reply_steps.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QMap>
#include <QString>

// Setting codes as callers name them (dotted codes and a few short names) against the setting
// names the meter driver knows, both ways.

// Requested code -> the setting name sent for it, kept for the reply of that one request.
using requested_codes = QMap<QString, QString>;

struct setting_code_request
{
    QByteArray settings; // the names sent, in the order of the codes: a JSON array's text
    requested_codes codes;
};

// The "code" text (split at ",", empty items kept) translated into setting names, each run of
// one code once.
setting_code_request translate_setting_codes(const QString& code);

// One meter's settings of a "read_setting" reply, named back by the codes asked for.
QJsonObject settings_by_code(const QJsonObject& settings, const requested_codes& codes);

// Reply step of "setting": each meter of the reply, renamed, replaces that meter in the merged
// object; the answer is the merged object once every instance has answered.
bool tornel_settings_reply(
    QJsonDocument& reply, instance_replies& replies, const requested_codes& codes);
