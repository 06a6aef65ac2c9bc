#pragma once

#include "amqp/command_data.h"
#include "app/keyed_hash.h"
#include "handlers/driver/tornel_params.h"
#include "handlers/driver/tornel_reply_steps.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QtGlobal>
#include <optional>
#include <vector>

// The event journal report. Unlike the history its window excludes both bounds, its times are
// not made even, and it has no cap: only a request without a window start stops early.

struct events_context
{
    int window_start = 0; // "timefrom", 0 when absent
    int window_end = 2147483647; // "timeto", the largest value when absent
    // The journal codes to keep, of those an event can have; absent keeps all. A caller may
    // list millions of codes, and every event of a reply is looked up here.
    std::optional<QSet<keyed_text>> journals;
};

struct events_request
{
    command_data data;
    events_context context;
};

// The "get_roll" command for a request that named modems (`modem_ids`, checked already, the
// ready text of their array), made at `now`.
events_request tornel_events_request(const tornel_params& params, QByteArray modem_ids, qint64 now);

// Converts one event of a journal record into an event object added to `events` when the
// journal filter and the window take it. True when the modem's remaining events are to be left
// unvisited.
bool tornel_event_record_convert(const QJsonObject& event, const QJsonObject& record,
    const events_context& context, std::vector<QJsonObject>& events);

// Newest first: true when `a` has the greater local time "1.0.0".
bool report_record_less(const QJsonObject& a, const QJsonObject& b);

// One modem's journal records of a reply as the modem object of the answer.
QJsonObject events_modem_object(
    const QString& modem, const QJsonArray& records, const events_context& context);

// Reply step of "report/events": every modem of the reply (in key order) becomes a modem
// object joining `answer`; once every instance has answered, the answer is that array.
bool tornel_events_reply(QJsonDocument& reply, instance_replies& replies, QJsonArray& answer,
    const events_context& context);
