#pragma once

#include <QString>
#include <stdexcept>

// The one error type of the request road; the router turns it into a JSON answer.
class http_exception : public std::runtime_error
{
public:
    http_exception(const QString& message, quint32 status, const QString& location = QString())
        : std::runtime_error(message.toStdString())
        , message_(message)
        , status_(status)
        , location_(location)
    { }
    quint32 status() const { return status_; }
    const QString& location() const { return location_; }
    // The what() text, kept as given: answering it then costs no conversion.
    const QString& message() const { return message_; }

private:
    QString message_;
    quint32 status_;
    QString location_;
};
