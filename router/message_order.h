#pragma once

#include <QJsonArray>
#include <QJsonValue>
#include <QLatin1String>
#include <QtGlobal>

// The orders that sort message lists newest first by one time field. Elements holding the
// field come first, greatest value first; elements that are not objects or lack the field
// follow, as do equal values, in arrival order, so the order is total on mixed lists.
struct message_order
{
    template <int N>
    constexpr explicit message_order(const char (&field)[N])
        : key(field, N - 1)
    { }

    QLatin1String key;
};

inline constexpr message_order time_saved_greater { "time_saved" };
inline constexpr message_order time_detected_greater { "time_detected" };
inline constexpr message_order posted_time_greater { "posted_time" };

// A time field as a 32-bit integer: a number rounded half up (-1.5 reads -1) and held to the
// range, a text by its decimal value (0 when it has none), true as 1, anything else 0.
qint32 message_time_of(const QJsonValue& value);

QJsonArray sorted_newest_first(const QJsonArray& elements, message_order order);
