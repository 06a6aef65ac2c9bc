#pragma once

#include <QByteArray>
#include <QString>
#include <ostream>

// Readable failure messages for Qt text.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QByteArray& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
