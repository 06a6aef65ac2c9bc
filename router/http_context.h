#pragma once

#include <QDateTime>
#include <QJsonDocument>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// What the router learned of one request's token; handed to handlers by value.
struct HttpContext
{
    QString email;
    QStringList roles;
    // scope ("" or an API key) -> group -> right name -> allowed-methods text
    QMap<QString, QMap<QString, QMap<QString, QString>>> rights;
    QString ver;
    QString user_id;
    QStringList api_keys;
    QString sign_key;
    QDateTime exp;
    QList<QJsonDocument> token_parts;
    bool token_valid = false;
};
