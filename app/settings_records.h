#pragma once

#include <QString>

struct qhttp_settings
{
    quint32 PORT = 8001;
    QString HOST;
};

struct redis_settings
{
    QString HOST;
    QString AUTH;
    QString NAME;
    quint32 PORT = 6379;
};
