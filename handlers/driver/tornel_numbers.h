#pragma once

#include "app/int32_clamp.h"

#include <QJsonValue>
#include <QString>
#include <QtGlobal>
#include <cmath>
#include <limits>

// Numbers of the driver paths. The caller's values and the driver's times are 32-bit by their
// nature, but their sums ("limit" + 1000, "timeto" + 86400, a time plus its zone offset) are
// made in 64 bits, and only what goes into a command is cut back to the 32-bit range.

// A request value: a base-10 32-bit number, 0 for any other text.
inline int request_number(const QString& text)
{
    return text.toInt(nullptr, 10);
}

// A whole number of a driver reply; 0 when it is missing, not a number, not whole or beyond
// what a 64-bit integer holds.
inline qint64 reply_integer(const QJsonValue& value)
{
    const double number = value.toDouble();
    if (!(std::fabs(number) < 9.0e18) || std::trunc(number) != number)
        return 0;
    return static_cast<qint64>(number);
}

// A modem id of a driver reply's key, as the answers carry it; 0 when it is no number.
inline qint64 modem_number(const QString& key)
{
    return key.toLongLong(nullptr, 10);
}
