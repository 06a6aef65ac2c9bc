#pragma once

#include <QChar>
#include <QStringView>

// Hands `take` each item of `text` split at every `separator`, in order, as a view into `text`:
// empty items included, and "" is one empty item (as QString::split keeps them). No item is
// copied, so a list of any length costs nothing per item here.
template <class Take>
void for_each_item(QStringView text, QChar separator, Take&& take)
{
    qsizetype start = 0;
    for (;;) {
        const qsizetype end = text.indexOf(separator, start);
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

// The same, telling `take(item, repeat)` whether the item equals the one before it: a run of one
// id, as long as a caller likes, then costs one look-up.
template <class Take>
void for_each_comma_item_with_repeats(QStringView text, Take&& take)
{
    QStringView previous;
    bool first = true;
    for_each_comma_item(text, [&](QStringView item) {
        take(item, !first && item == previous);
        previous = item;
        first = false;
    });
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
