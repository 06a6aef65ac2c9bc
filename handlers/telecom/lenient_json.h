#pragma once

#include <QJsonValue>
#include <QtGlobal>
#include <cmath>
#include <limits>

// Back-end replies are read leniently: a member of the wrong kind reads as 0.

// A JSON number with a whole value in the signed 32-bit range; anything else reads as 0.
inline qint32 read_int32(const QJsonValue& value)
{
    if (!value.isDouble())
        return 0;
    const double d = value.toDouble();
    if (!(d >= double(std::numeric_limits<qint32>::min())
            && d <= double(std::numeric_limits<qint32>::max()))
        || std::trunc(d) != d)
        return 0;
    return static_cast<qint32>(d);
}

// A JSON number; anything else reads as 0.
inline double read_number(const QJsonValue& value)
{
    return value.isDouble() ? value.toDouble() : 0.0;
}
