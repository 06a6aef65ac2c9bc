#pragma once

#include "amqp/command_data.h"
#include "http/qhttp_types.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QUrl>
#include <functional>
#include <variant>

// A ready answer, optionally preceded by a fire-and-forget AMQP command.
struct HttpSyncResult
{
    quint32 status = 200;
    QMap<QString, QString> headers;
    QByteArray body;
    QString msg_type;
    QJsonObject data;
    QString routing_key;
};

inline bool accept_reply(QJsonDocument&)
{
    return true;
}

// An AMQP command whose reply becomes the answer.
struct AsyncRabbitResult
{
    QString command;
    command_data data;
    QString routing_key;
    std::function<bool(QJsonDocument&)> _postProcess = accept_reply;
};

// A forward of the request to a local HTTP service.
struct HttpForwardAsycResult
{
    int method = 1; // the HTTP layer's numbering: DELETE 0, GET 1, HEAD 2, POST 3, PUT 4
    QUrl url;
    qhttp::THeaderHash headers;
    QByteArray body;
    // The client's address, for the authorisation services, which learn it through the user
    // agent; empty for the other targets.
    QString client_address;
};

using HandlerResult = std::variant<HttpSyncResult, AsyncRabbitResult, HttpForwardAsycResult>;
