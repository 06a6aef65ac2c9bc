#pragma once

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>

class logger;

enum request_state : qint32 {
    WAIT = 0,
    EXECUTED = 1,
    FAIL_BAN_BY_TIME = 2,
    FAIL_TOKEN_INVALID = 3,
    FAIL_TOKEN_EXPIRED = 4,
};

QString request_state_name(request_state state);

struct request_record
{
    request_state status = WAIT;
    QDateTime time; // shown
    QString url;
    QString uuid;
    qint32 exec_ms = -1;
    qint64 started_ms = 0; // on the monotonic clock: where the execution time starts
};

// One client's request statistics, keyed in the map by the token's e-mail.
struct statistic
{
    QList<request_record> history; // newest first
    QDateTime last_time;
    QDateTime banned_to;
    double api_load_percent = 0.0;
    qint64 exec_ms_sum = 0;
    qint64 count_request = 0; // shared by all clients without an e-mail: 32 bits would run out
};

using statistic_map = QMap<QString, statistic>;
