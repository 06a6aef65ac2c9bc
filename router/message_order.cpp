#include "router/message_order.h"

#include "app/int32_clamp.h"

#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

qint32 message_time_of(const QJsonValue& value)
{
    if (value.isDouble()) {
        // Held to the range before the conversion, which is undefined outside it.
        const double rounded = std::floor(value.toDouble() + 0.5);
        return qint32(qBound<double>(
            std::numeric_limits<qint32>::min(), rounded, std::numeric_limits<qint32>::max()));
    }
    if (value.isString()) {
        bool ok = false;
        const qlonglong number = value.toString().toLongLong(&ok, 10);
        return ok ? clamp_to_int32(number) : 0;
    }
    return value.isBool() ? qint32(value.toBool()) : 0;
}

QJsonArray sorted_newest_first(const QJsonArray& elements, message_order order)
{
    struct keyed
    {
        bool has;
        qint32 value;
        int index;
    };
    std::vector<keyed> keys;
    keys.reserve(std::size_t(elements.size()));
    for (int i = 0; i < elements.size(); ++i) {
        const QJsonObject element = elements.at(i).toObject();
        const auto it = element.constFind(order.key);
        const bool has = it != element.constEnd();
        keys.push_back({ has, has ? message_time_of(it.value()) : 0, i });
    }
    std::stable_sort(keys.begin(), keys.end(), [](const keyed& a, const keyed& b) {
        if (a.has != b.has)
            return a.has;
        return a.has && a.value > b.value;
    });
    QJsonArray sorted;
    for (const keyed& k : keys)
        sorted.append(elements.at(k.index));
    return sorted;
}
