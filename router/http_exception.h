#pragma once

#include <QString>
#include <stdexcept>

// The one error type of the request road; the router turns it into a JSON answer.
class http_exception : public std::runtime_error
{
public:
    http_exception(const QString& message, quint32 status, const QString& location = QString())
        : std::runtime_error(message.toStdString())
        , status_(status)
        , location_(location)
    { }
    quint32 status() const { return status_; }
    const QString& location() const { return location_; }
    QString message() const { return QString::fromStdString(what()); }

private:
    quint32 status_;
    QString location_;
};
