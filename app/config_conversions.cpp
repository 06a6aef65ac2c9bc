#include "app/config_conversions.h"

#include "app/int32_clamp.h"

#include <limits>

namespace {

constexpr qint64 int_min = std::numeric_limits<int>::min();
constexpr qint64 int_max = std::numeric_limits<int>::max();

// A run of digits with an optional sign that does not fit in 64 bits: its sign, else 0.
int sign_of_huge_number(const QString& text)
{
    const QString t = text.trimmed();
    int start = 0;
    int sign = 1;
    if (!t.isEmpty() && (t[0] == QLatin1Char('+') || t[0] == QLatin1Char('-'))) {
        sign = t[0] == QLatin1Char('-') ? -1 : 1;
        start = 1;
    }
    if (start >= t.size())
        return 0;
    for (int i = start; i < t.size(); ++i) {
        if (!t[i].isDigit() || t[i].unicode() > 127)
            return 0;
    }
    return sign;
}

// Returns false for text that is not a base-10 number; huge numbers saturate.
bool to_int64_saturated(const QString& text, qint64* value)
{
    bool ok = false;
    *value = text.toLongLong(&ok, 10);
    if (ok)
        return true;
    const int sign = sign_of_huge_number(text);
    if (sign == 0)
        return false;
    *value = sign > 0 ? std::numeric_limits<qint64>::max() : std::numeric_limits<qint64>::min();
    return true;
}

} // namespace

bool on_unless_disable(const QString& text)
{
    return text != QLatin1String("DISABLE");
}

bool on_only_if_enable(const QString& text)
{
    return text == QLatin1String("ENABLE");
}

int to_int32(const QString& text)
{
    // A number outside the int range is no int: 0, like any other text that is not one.
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

int seconds_to_ms(const QString& text)
{
    qint64 seconds = 0;
    if (!to_int64_saturated(text, &seconds))
        return 0;
    // Anything past the int range in seconds is past it in milliseconds too; this also keeps
    // the multiplication inside 64 bits.
    return clamp_to_int32(qBound(int_min, seconds, int_max) * 1000);
}

quint32 to_uint32(const QString& text)
{
    bool ok = false;
    const quint32 value = text.toUInt(&ok, 10);
    return ok ? value : 0;
}

QString as_directory(const QString& text)
{
    if (text.endsWith(QLatin1Char('/')))
        return text;
    return text + QLatin1Char('/');
}

QStringList list_at_semicolon(const QString& text)
{
    return text.split(QLatin1Char(';'), Qt::KeepEmptyParts, Qt::CaseSensitive);
}

QList<QPair<QString, QString>> parse_bindings(const QString& text, QStringList* skipped)
{
    QList<QPair<QString, QString>> bindings;
    if (text.isEmpty())
        return bindings;
    const QStringList parts = text.split(QLatin1Char(','), Qt::KeepEmptyParts);
    for (const QString& part : parts) {
        const QStringList fields = part.split(QLatin1Char(':'), Qt::KeepEmptyParts);
        if (fields.size() < 2) {
            if (skipped)
                skipped->append(part);
            continue;
        }
        bindings.append(qMakePair(fields[0], fields[1]));
    }
    return bindings;
}
