#include "json/compact_json_key_order.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

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

namespace {

// A key with its first eight bytes, big-endian and padded with zeros, so that most comparisons
// of a large object's keys are one compare of two numbers rather than reads far apart in the
// body.
struct prefixed_key
{
    quint64 prefix;
    json_key key;
};

// The keys [first, last) as prefixed keys between two sentinels, or nothing when a prefix could
// order two keys otherwise than compare_json_keys: a UTF-16 key, or a NUL byte among a key's
// first eight (it ends a comparison of bytes). Otherwise, two keys' prefixes that differ order
// them as their bytes do, a shorter key that begins another included, and only equal prefixes
// need their keys compared.
std::vector<prefixed_key> prefixed_keys(
    const char* source, const json_key* first, const json_key* last)
{
    std::vector<prefixed_key> keys;
    keys.reserve(size_t(last - first) + 2);
    keys.push_back({ 0, json_key::lowest() });
    for (const json_key* key = first; key < last; ++key) {
        if (key->form() == json_string_form::utf16)
            return {};
        const quint32 size = std::min<quint32>(key->size(), 8);
        uchar bytes[8] = {};
        std::memcpy(bytes, source + key->begin(), size);
        if (std::memchr(bytes, 0, size))
            return {};
        keys.push_back({ qFromBigEndian<quint64>(bytes), *key });
    }
    keys.push_back({ ~quint64(0), json_key::highest() });
    return keys;
}

// Sorts [first, last) as Qt sorts an object's keys, with the same std::sort, and of each run of
// equal keys keeps only the one that ends up last, at the end of the range. `compare` answers
// as compare_json_keys. Returns the first key kept.
template <typename Iterator, typename Compare>
Iterator sort_keeping_last(Iterator first, Iterator last, Compare compare)
{
    using key = typename std::iterator_traits<Iterator>::value_type;
    std::sort(first, last, [&compare](const key& a, const key& b) { return compare(a, b) < 0; });
    using reverse = std::reverse_iterator<Iterator>;
    return std::unique(reverse(last), reverse(first), [&compare](const key& a, const key& b) {
        return compare(a, b) == 0;
    }).base();
}

} // namespace

json_key* sort_json_keys(const char* source, json_key* first, json_key* last)
{
    // A small object's keys are near one another: compared where they stand.
    std::vector<prefixed_key> keys;
    if (last - first >= 64)
        keys = prefixed_keys(source, first, last);
    if (keys.empty()) {
        return sort_keeping_last(first, last,
            [source](json_key a, json_key b) { return compare_json_keys(source, a, b); });
    }
    // Every comparison answers as above, so the same std::sort leaves the same order, equal
    // keys included.
    const auto kept = sort_keeping_last(
        keys.begin() + 1, keys.end() - 1, [source](const prefixed_key& a, const prefixed_key& b) {
            if (a.prefix != b.prefix)
                return a.prefix < b.prefix ? -1 : 1;
            return compare_json_keys(source, a.key, b.key);
        });
    json_key* const out = last - (keys.end() - 1 - kept);
    std::transform(kept, keys.end() - 1, out, [](const prefixed_key& k) { return k.key; });
    return out;
}
