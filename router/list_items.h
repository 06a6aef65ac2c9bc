#pragma once

#include <QChar>
#include <QLatin1String>
#include <QStringView>
#include <algorithm>
#include <cstring>

// Where `unit` first comes in `text` from `from` on, or -1.
inline qsizetype index_of(QStringView text, QLatin1Char unit, qsizetype from = 0)
{
    return text.indexOf(unit, from);
}

// The same in Latin-1 text, which QLatin1String::indexOf would widen whole on every call.
inline qsizetype index_of(QLatin1String text, QLatin1Char unit, qsizetype from = 0)
{
    if (from >= text.size())
        return -1;
    const void* found
        = std::memchr(text.data() + from, unit.toLatin1(), std::size_t(text.size() - from));
    return found ? static_cast<const char*>(found) - text.data() : -1;
}

// Hands `take` each item of `text` (a QStringView or a QLatin1String) split at every
// `separator`, in order, as a view into `text`: empty items included, and "" is one empty item
// (as QString::split keeps them). No item is copied, so a list of any length costs nothing per
// item here.
template <class Text, class Take>
void for_each_item(Text text, QLatin1Char separator, Take&& take)
{
    qsizetype start = 0;
    for (;;) {
        const qsizetype end = index_of(text, separator, start);
        if (end < 0) {
            take(text.mid(start));
            return;
        }
        take(text.mid(start, end - start));
        start = end + 1;
    }
}

// The same at every ",": the lists of modem ids, download indexes and setting names.
template <class Take>
void for_each_comma_item(QStringView text, Take&& take)
{
    for_each_item(text, QLatin1Char(','), take);
}

// How many items for_each_comma_item hands out: one more than the commas.
inline qsizetype count_comma_items(QStringView text)
{
    return std::count(text.utf16(), text.utf16() + text.size(), u',') + 1;
}

// The first unit from `at + period` on that differs from the one `period` units before it, or
// `end`: where text that repeats itself with that period stops doing so. Compared eight bytes
// at a time, since a run of one item is a caller's cheapest long list.
inline const char16_t* end_of_repeats(const char16_t* at, const char16_t* end, qsizetype period)
{
    const char16_t* next = at + period;
    while (end - next >= 4) {
        quint64 ahead;
        quint64 behind;
        std::memcpy(&ahead, next, sizeof ahead);
        std::memcpy(&behind, next - period, sizeof behind);
        if (ahead != behind)
            break;
        next += 4;
    }
    while (next < end && *next == next[-period])
        ++next;
    return next < end ? next : end;
}

// The same a run at a time: `take(item, count)` gets each item once for the `count` equal items
// that come one after another from it on. A run of one id, as long as a caller likes, then costs
// one look-up and one write, and the scan of it a compare per eight bytes.
template <class Take>
void for_each_comma_run(QStringView text, Take&& take)
{
    const char16_t* at = text.utf16();
    const char16_t* const end = at + text.size();
    for (;;) {
        const char16_t* stop = at;
        while (stop != end && *stop != u',')
            ++stop;
        const qsizetype size = stop - at;
        qsizetype count = 1;
        if (stop != end) {
            // Equal items, each with its comma, repeat the text with the period of one of them.
            const qsizetype period = size + 1;
            const char16_t* const repeats = end_of_repeats(at, end, period);
            count = (repeats - at) / period;
            stop = at + count * period - 1;
            // A last equal item has no comma after it.
            if (repeats == end && end - (stop + 1) == size) {
                ++count;
                stop = end;
            }
        }
        take(QStringView(at, size), count);
        if (stop == end)
            return;
        at = stop + 1;
    }
}

// QString::toInt(ok, 10) of an item. QStringView's own toInt makes a QString of it first, so
// plain decimal items of up to nine digits, which always fit, are read here; any other goes the
// QString way and reads exactly as it always has (white space, a plus sign, overflow).
inline int item_to_int(QStringView item, bool* ok)
{
    const qsizetype sign = !item.isEmpty() && item.front() == QLatin1Char('-') ? 1 : 0;
    const qsizetype digits = item.size() - sign;
    if (digits < 1 || digits > 9)
        return item.isEmpty() ? (*ok = false, 0) : item.toString().toInt(ok, 10);
    int value = 0;
    for (qsizetype i = sign; i < item.size(); ++i) {
        const char16_t c = item[i].unicode();
        if (c < u'0' || c > u'9')
            return item.toString().toInt(ok, 10);
        value = value * 10 + int(c - u'0');
    }
    *ok = true;
    return sign ? -value : value;
}
