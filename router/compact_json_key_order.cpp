#include "router/compact_json_key_order.h"

#include <algorithm>
#include <iterator>

namespace {

// Code points over UTF-16 units as QStringIterator::next gives them: a pair joined, a lone
// surrogate as U+FFFD.
template <typename Units>
class code_points
{
public:
    explicit code_points(Units units)
        : units_(units)
    { }

    bool has_next()
    {
        if (!held_)
            held_ = units_.next(ahead_);
        return held_;
    }
    uint next()
    {
        has_next();
        held_ = false;
        const char16_t unit = ahead_;
        if (!is_surrogate(unit))
            return unit;
        if (is_high_surrogate(unit) && has_next() && is_low_surrogate(ahead_)) {
            held_ = false;
            return (uint(unit) << 10) + ahead_ - ((0xd800u << 10) + 0xdc00u - 0x10000u);
        }
        return 0xfffd;
    }

private:
    Units units_;
    char16_t ahead_ = 0;
    bool held_ = false;
};

int compare_sizes(quint32 a, quint32 b)
{
    return a == b ? 0 : a > b ? 1 : -1;
}

// QUtf8::compareUtf8: UTF-8 bytes against UTF-16, code point by code point.
template <typename Units>
int compare_utf8_with_units(const char* at, const char* end, Units units)
{
    code_points<Units> points(units);
    while (at < end && points.has_next()) {
        uint left;
        if (!read_utf8_char(at, end, left)) {
            left = 0xfffd;
            ++at;
        }
        const uint right = points.next();
        if (left != right)
            return int(left) - int(right);
    }
    return int(end > at) - int(points.has_next());
}

// UTF-16 against UTF-16, code unit by code unit, the shorter first on a common start.
template <typename Left, typename Right>
int compare_units(Left left, Right right)
{
    for (;;) {
        char16_t a;
        char16_t b;
        const bool more_left = left.next(a);
        const bool more_right = right.next(b);
        if (!more_left || !more_right)
            return int(more_left) - int(more_right);
        if (a != b)
            return int(a) - int(b);
    }
}

// Latin-1 against Latin-1 as Qt compares two UTF-8 keys: strncmp, so a NUL byte ends the
// comparison of the bytes, then the lengths.
// Inline rather than a call to strncmp: a body of many short keys costs n log n of these.
int compare_bytes(const char* a, quint32 a_size, const char* b, quint32 b_size)
{
    const quint32 common = std::min(a_size, b_size);
    for (quint32 i = 0; i < common; ++i) {
        const auto x = uchar(a[i]);
        const auto y = uchar(b[i]);
        if (x != y)
            return int(x) - int(y);
        if (x == 0)
            break;
    }
    return compare_sizes(a_size, b_size);
}

int sentinel_rank(json_key key)
{
    return key.is_sentinel() ? (key.is_highest() ? 1 : -1) : 0;
}

} // namespace

int compare_json_keys(const char* source, json_key a, json_key b)
{
    if (a.is_sentinel() || b.is_sentinel())
        return sentinel_rank(a) - sentinel_rank(b);
    const char* a_at = source + a.begin();
    const char* b_at = source + b.begin();
    const json_string_units a_units(a_at, a_at + a.size());
    const json_string_units b_units(b_at, b_at + b.size());
    if (a.form() == json_string_form::utf16) {
        if (b.form() == json_string_form::utf16)
            return compare_units(a_units, b_units);
        return -compare_utf8_with_units(b_at, b_at + b.size(), a_units);
    }
    if (b.form() == json_string_form::utf16)
        return compare_utf8_with_units(a_at, a_at + a.size(), b_units);
    return compare_bytes(a_at, a.size(), b_at, b.size());
}

int compare_json_key(const char* source, json_key key, QStringView text)
{
    const char* at = source + key.begin();
    if (key.form() == json_string_form::utf16)
        return compare_units(json_string_units(at, at + key.size()), json_view_units(text));
    return compare_utf8_with_units(at, at + key.size(), json_view_units(text));
}

json_key* sort_json_keys(const char* source, json_key* first, json_key* last)
{
    std::sort(first, last,
        [source](json_key a, json_key b) { return compare_json_keys(source, a, b) < 0; });
    using reverse = std::reverse_iterator<json_key*>;
    return std::unique(reverse(last), reverse(first), [source](json_key a, json_key b) {
        return compare_json_keys(source, a, b) == 0;
    }).base();
}
