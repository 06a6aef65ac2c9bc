#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <string>

// Recorded driver replies and expected answers are written in the tests as JSON text.
inline QJsonDocument json_doc(const char* text)
{
    return QJsonDocument::fromJson(QByteArray(text));
}
inline QJsonObject json_object(const char* text)
{
    return json_doc(text).object();
}
inline std::string compact(const QJsonDocument& document)
{
    return document.toJson(QJsonDocument::Compact).toStdString();
}
inline std::string compact(const QJsonObject& object)
{
    return compact(QJsonDocument(object));
}
