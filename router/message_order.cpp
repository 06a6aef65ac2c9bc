#include "router/message_order.h"

#include <QVariantMap>

namespace {

bool newer_by(const QString& key, const QVariant& a, const QVariant& b)
{
    const QVariantMap ma = a.toMap();
    const QVariantMap mb = b.toMap();
    const auto va = ma.constFind(key);
    const auto vb = mb.constFind(key);
    const bool has_a = va != ma.constEnd();
    const bool has_b = vb != mb.constEnd();
    if (has_a && has_b)
        return va.value().toInt() > vb.value().toInt();
    return has_a && !has_b;
}

} // namespace

bool compare_time_saved(const QVariant& a, const QVariant& b)
{
    return newer_by(QStringLiteral("time_saved"), a, b);
}

bool compare_time_detected(const QVariant& a, const QVariant& b)
{
    return newer_by(QStringLiteral("time_detected"), a, b);
}

bool compare_posted_time(const QVariant& a, const QVariant& b)
{
    return newer_by(QStringLiteral("posted_time"), a, b);
}
