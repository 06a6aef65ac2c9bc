#include "json/json_array_text.h"

#include "json/compact_json_number.h"
#include "json/json_text.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

void json_array_text::add_text(const char* item, int size, qsizetype count)
{
    if (count <= 0)
        return;
    separate();
    text_.append(item, size);
    if (--count == 0)
        return;
    // ",item" once, then what is written of the run copied onto its end until it is complete:
    // a run costs a few copies, however long it is.
    const qsizetype unit = qsizetype(size) + 1;
    const qsizetype total = unit * count;
    const qsizetype from = text_.size();
    if (from + total > std::numeric_limits<int>::max() - 1)
        throw std::bad_alloc(); // beyond what a QByteArray holds, as an append past it would
    text_.resize(int(from + total));
    char* run = text_.data() + from;
    run[0] = ',';
    std::memcpy(run + 1, item, size_t(size));
    for (qsizetype done = unit; done < total;) {
        const qsizetype copied = std::min(done, total - done);
        std::memcpy(run + done, run, size_t(copied));
        done += copied;
    }
}

void json_array_text::add_int(int value, qsizetype count)
{
    char digits[24];
    const char* first = put_json_whole(digits + sizeof digits, value);
    add_text(first, int(digits + sizeof digits - first), count);
}

void json_array_text::add_string(QStringView text, qsizetype count)
{
    if (count <= 0)
        return;
    if (count == 1) {
        separate();
        append_qt_json_string(text_, text);
        return;
    }
    QByteArray item;
    append_qt_json_string(item, text);
    add_text(item.constData(), item.size(), count);
}

QByteArray json_array_text::take()
{
    text_.append(']');
    return std::move(text_);
}

void json_array_text::separate()
{
    if (text_.size() > 1) // past the "["
        text_.append(',');
}
