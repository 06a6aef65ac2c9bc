#pragma once

#include <QtGlobal>
#include <limits>

// A result computed in 64 bits that goes where a 32-bit number is kept: cut to the nearest end
// of the 32-bit range rather than wrapped.
inline qint32 clamp_to_int32(qint64 value)
{
    return qint32(qBound<qint64>(
        std::numeric_limits<qint32>::min(), value, std::numeric_limits<qint32>::max()));
}
