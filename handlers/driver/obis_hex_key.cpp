#include "handlers/driver/obis_hex_key.h"

#include <QByteArray>

namespace {

unsigned value_group(const QByteArray& groups, int index)
{
    return index < groups.size() ? static_cast<unsigned char>(groups.at(index)) : 0u;
}

} // namespace

void obis_hex_to_key(json_object_builder& target, const QJsonObject& source, const QString& key)
{
    const QByteArray groups = QByteArray::fromHex(key.toLatin1());
    const unsigned c = value_group(groups, 2);
    const QString short_key
        = QStringLiteral("%1.%2.%3").arg(c).arg(value_group(groups, 3)).arg(value_group(groups, 4));
    const double multiplier = c <= 80 && c % 20 <= 10 ? 1000.0 : 1.0;
    target.insert(short_key, source.value(key).toDouble() * multiplier);
}
