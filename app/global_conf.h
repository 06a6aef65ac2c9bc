#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// The GENERAL_SETTINGS record; periods are kept in milliseconds.
struct global_conf
{
    bool CHECK_TOKEN_VALID = true;
    bool CHECK_TOKEN_EXP_TIME = true;
    bool CHECK_TOKEN_API_KEY = true;
    bool CHECK_TOKEN_CLAIMS = true;
    bool FORWARD_TORNEL_APPSANDBOX = true;
    bool GATEWEBFACE = false;
    QString ADMIN_API_KEY;
    QString R_REMOTE_ROUTE_KEY;
    QString R_SERSOFT_ROUTE_KEY;
    QString R_SERSOFT_USPD_ROUTE_KEY;
    QString R_QOBI_SENDER_ROUTE_KEY;
    QString R_IEC104_ROUTE_KEY;
    QString R_SPODES_TO_TORNEL_ROUTE_KEY;
    QString SIGN_KEY;
    int SESSIONS_PORT = 0;
    QString SESSIONS_IP;
    int AUTH_PORT = 0;
    QString AUTH_IP;
    int APP_PORT = 0;
    QString APP_IP;
    QString AUTH_REDIRECT;
    QString REFRESH_REDIRECT;
    QStringList INDEX_REDIRECT;
    QStringList HTML_APPEND;
    bool STATIC_COMPRESS = false;
    bool ACCESS_HEADER = false;
    int APP_INST_COUNT = 1;
    int SERSOFT_INST_COUNT = 1;
    int STATISTIC_HISTORY_LENGTH = 10;
    int STATISTIC_BAN_TIME = 600000;
    int STATISTIC_BAN_LOAD = 50;
    int STATISTIC_PERIOD = 60000;
    QString PATH_DRIVER_TORNEL_UI;
    QString PATH_GRELM_CONF;
    QString PATH_UPDATE;
    QString PATH_UI;
    QDateTime start_time;
};
