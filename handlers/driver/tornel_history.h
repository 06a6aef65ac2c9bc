#pragma once

#include "amqp/command_data.h"
#include "handlers/driver/tornel_params.h"
#include "handlers/driver/tornel_reply_steps.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QtGlobal>
#include <optional>

// The report history: the driver is asked for a day more on each side and 1000 records more
// than the caller wants; the reply step cuts the records back to the caller's window and limit.

// What the reply step needs of the request.
struct history_context
{
    int window_start = 0; // "timefrom", 0 when absent
    int window_end = 2147483647; // "timeto"; the largest value when absent
    qint64 request_time = 0; // UTC seconds when the request was built
    bool index_only = false;
    std::optional<int> limit;
};

struct history_request
{
    QString command; // "get_roll" for index records only, else "get_roll_extract"
    command_data data;
    history_context context;
};

// The command for a request that named modems (`modem_ids`, checked already, the ready text of
// their array), made at `now`.
history_request tornel_history_request(
    const tornel_params& params, QByteArray modem_ids, qint64 now);

// One modem's records of a reply as the modem object of the answer.
QJsonObject history_modem_object(
    const QString& modem, const QJsonArray& records, const history_context& context);

// Reply step of "report/history": every modem of the reply (in key order) becomes a modem
// object joining `answer`; once every instance has answered, the answer is that array.
bool tornel_history_reply(QJsonDocument& reply, instance_replies& replies, QJsonArray& answer,
    const history_context& context);
