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

// How many of the first `size` bytes of `a` and `b` are equal before the first that differs,
// read sixteen and eight at a time.
quint32 common_bytes(const char* a, const char* b, quint32 size)
{
    quint32 i = 0;
    for (; i + 16 <= size; i += 16) {
        const quint64 x = qFromLittleEndian<quint64>(a + i) ^ qFromLittleEndian<quint64>(b + i);
        const quint64 y
            = qFromLittleEndian<quint64>(a + i + 8) ^ qFromLittleEndian<quint64>(b + i + 8);
        if (x)
            return i + quint32(qCountTrailingZeroBits(x) / 8);
        if (y)
            return i + 8 + quint32(qCountTrailingZeroBits(y) / 8);
    }
    for (; i + 8 <= size; i += 8) {
        const quint64 x = qFromLittleEndian<quint64>(a + i) ^ qFromLittleEndian<quint64>(b + i);
        if (x)
            return i + quint32(qCountTrailingZeroBits(x) / 8);
    }
    while (i < size && a[i] == b[i])
        ++i;
    return i;
}

// Bytes in order, the shorter first on a common start. With `stop_at_nul`, as Qt compares two
// UTF-8 keys (strncmp): a NUL byte met on the common start ends the comparison of the bytes,
// and the lengths decide.
int compare_bytes(const char* a, quint32 a_size, const char* b, quint32 b_size, bool stop_at_nul)
{
    const quint32 common = std::min(a_size, b_size);
    const quint32 equal = common_bytes(a, b, common);
    if (stop_at_nul && std::memchr(a, 0, equal))
        return compare_sizes(a_size, b_size);
    if (equal < common)
        return int(uchar(a[equal])) - int(uchar(b[equal]));
    return compare_sizes(a_size, b_size);
}

int sentinel_rank(json_key key)
{
    return key.is_sentinel() ? (key.is_highest() ? 1 : -1) : 0;
}

// Appends the UTF-8 of a code point.
void put_utf8(std::vector<char>& out, uint code)
{
    if (code < 0x80) {
        out.push_back(char(code));
    } else if (code < 0x800) {
        out.push_back(char(0xc0 | (code >> 6)));
        out.push_back(char(0x80 | (code & 0x3f)));
    } else if (code < 0x10000) {
        out.push_back(char(0xe0 | (code >> 12)));
        out.push_back(char(0x80 | ((code >> 6) & 0x3f)));
        out.push_back(char(0x80 | (code & 0x3f)));
    } else {
        out.push_back(char(0xf0 | (code >> 18)));
        out.push_back(char(0x80 | ((code >> 12) & 0x3f)));
        out.push_back(char(0x80 | ((code >> 6) & 0x3f)));
        out.push_back(char(0x80 | (code & 0x3f)));
    }
}

} // namespace

int compare_json_key(const char* source, json_key key, QStringView text)
{
    const char* at = source + key.begin();
    if (key.form() == json_string_form::utf16)
        return compare_units(json_string_units(at, at + key.size()), json_view_units(text));
    return compare_utf8_with_units(at, at + key.size(), json_view_units(text));
}

namespace {

// Sorts [first, last) as Qt sorts an object's keys, with the same std::sort, and of each run of
// equal keys keeps only the one that ends up last, at the end of the range. `compare` answers
// as Qt's comparison. Returns the first key kept.
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

// The first eight bytes of a UTF-8 key, big-endian and padded with zeros: two keys whose
// prefixes differ are in the order of their prefixes, a shorter key that begins another
// included, unless a NUL byte among them ends a comparison of the bytes.
bool byte_prefix(const char* key, quint32 size, quint64& prefix)
{
    size = std::min<quint32>(size, 8);
    uchar bytes[8] = {};
    std::memcpy(bytes, key, size);
    prefix = qFromBigEndian<quint64>(bytes);
    return !std::memchr(bytes, 0, size);
}

// The first four units of a UTF-16 key the same way: in the order of the units.
quint64 unit_prefix(const char16_t* units, quint32 count)
{
    quint64 prefix = 0;
    for (quint32 i = 0; i < 4; ++i)
        prefix = (prefix << 16) | (i < count ? units[i] : 0);
    return prefix;
}

} // namespace

void json_key_sorter::make_forms(const json_key* first, const json_key* last, bool points)
{
    forms_.clear();
    units_.clear();
    points_.clear();
    for (const json_key* key = first; key < last; ++key) {
        if (key->form() != json_string_form::utf16)
            continue;
        utf16_forms forms { key->begin(), quint32(units_.size()), 0, quint32(points_.size()), 0 };
        const char* at = source_ + key->begin();
        json_string_units units(at, at + key->size());
        char16_t unit;
        while (units.next(unit))
            units_.push_back(unit);
        forms.unit_count = quint32(units_.size()) - forms.units;
        if (points) {
            code_points<json_view_units> code(json_view_units(
                QStringView(units_.data() + forms.units, qsizetype(forms.unit_count))));
            while (code.has_next())
                put_utf8(points_, code.next());
            forms.point_bytes = quint32(points_.size()) - forms.points;
        }
        forms_.push_back(forms);
    }
}

int json_key_sorter::compare(json_key a, json_key b) const
{
    if (a.is_sentinel() || b.is_sentinel())
        return sentinel_rank(a) - sentinel_rank(b);
    const bool a_utf16 = a.form() == json_string_form::utf16;
    const bool b_utf16 = b.form() == json_string_form::utf16;
    if (!a_utf16 && !b_utf16)
        return compare_bytes(source_ + a.begin(), a.size(), source_ + b.begin(), b.size(), true);
    if (a_utf16 && b_utf16) {
        const utf16_forms& x = forms_[a.begin()];
        const utf16_forms& y = forms_[b.begin()];
        const quint32 common = std::min(x.unit_count, y.unit_count);
        const char16_t* const left = units_.data() + x.units;
        const char16_t* const right = units_.data() + y.units;
        const quint32 equal = common_bytes(reinterpret_cast<const char*>(left),
                                  reinterpret_cast<const char*>(right), common * 2)
            / 2;
        if (equal < common)
            return int(left[equal]) - int(right[equal]);
        return compare_sizes(x.unit_count, y.unit_count);
    }
    // The UTF-8 of code points is in the order of the code points.
    if (a_utf16) {
        const utf16_forms& x = forms_[a.begin()];
        return compare_bytes(
            points_.data() + x.points, x.point_bytes, source_ + b.begin(), b.size(), false);
    }
    const utf16_forms& y = forms_[b.begin()];
    return compare_bytes(
        source_ + a.begin(), a.size(), points_.data() + y.points, y.point_bytes, false);
}

void json_key_sorter::release()
{
    std::vector<sort_key>().swap(keys_);
    std::vector<utf16_forms>().swap(forms_);
    std::vector<char16_t>().swap(units_);
    std::vector<char>().swap(points_);
}

json_key* json_key_sorter::sort(json_key* first, json_key* last)
{
    const bool utf8 = std::any_of(
        first, last, [](json_key key) { return key.form() == json_string_form::utf8; });
    const bool utf16 = std::any_of(
        first, last, [](json_key key) { return key.form() == json_string_form::utf16; });
    // A small object of UTF-8 keys is compared where it stands: its keys are near one another.
    if (!utf16 && last - first < 64) {
        return sort_keeping_last(
            first, last, [this](json_key a, json_key b) { return compare(a, b); });
    }
    make_forms(first, last, utf8 && utf16);
    // Prefixes only where they order keys as compare() does: not across forms, and not for UTF-8
    // keys with a NUL among their first bytes.
    bool prefixed = !(utf8 && utf16);
    keys_.clear();
    keys_.reserve(std::size_t(last - first) + 2);
    keys_.push_back({ 0, json_key::lowest() });
    quint32 form = 0;
    for (const json_key* key = first; key < last; ++key) {
        quint64 prefix = 0;
        if (key->form() == json_string_form::utf16) {
            const utf16_forms& forms = forms_[form];
            prefix = unit_prefix(units_.data() + forms.units, forms.unit_count);
            keys_.push_back({ prefix, json_key(form++, key->size(), json_string_form::utf16) });
            continue;
        }
        prefixed = byte_prefix(source_ + key->begin(), key->size(), prefix) && prefixed;
        keys_.push_back({ prefix, *key });
    }
    keys_.push_back({ ~quint64(0), json_key::highest() });
    if (!prefixed) {
        for (sort_key& key : keys_)
            key.prefix = 0;
    }
    // Where prefixes differ they answer as compare() would, so the same std::sort leaves the
    // same order, equal keys included.
    const auto kept = sort_keeping_last(
        keys_.begin() + 1, keys_.end() - 1, [this](const sort_key& a, const sort_key& b) {
            if (a.prefix != b.prefix)
                return a.prefix < b.prefix ? -1 : 1;
            return compare(a.key, b.key);
        });
    json_key* const out = last - (keys_.end() - 1 - kept);
    std::transform(kept, keys_.end() - 1, out, [this](const sort_key& k) {
        return k.key.form() == json_string_form::utf16
            ? json_key(forms_[k.key.begin()].begin, k.key.size(), json_string_form::utf16)
            : k.key;
    });
    return out;
}
