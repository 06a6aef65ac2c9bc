#include "json/compact_json_key_order.h"

#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstring>
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

    // The units still to read; none of them is held here when holding() is false.
    const Units& units() const { return units_; }
    bool holding() const { return held_; }

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

// Reads a character of UTF-8 and a code point of UTF-16; true, with the answer, when that
// decides QUtf8::compareUtf8: one of them has none left (the shorter first), or the two differ.
template <typename Units>
bool points_decide(const char*& at, const char* end, code_points<Units>& points, int& answer)
{
    const bool more_points = points.has_next();
    if (at == end || !more_points) {
        answer = int(at < end) - int(more_points);
        return true;
    }
    uint left;
    if (!read_utf8_char(at, end, left)) {
        left = 0xfffd;
        ++at;
    }
    const uint right = points.next();
    answer = int(left) - int(right);
    return left != right;
}

// QUtf8::compareUtf8: UTF-8 bytes against UTF-16, code point by code point.
template <typename Units>
int compare_utf8_with_units(const char* at, const char* end, Units units)
{
    code_points<Units> points(units);
    int answer;
    while (!points_decide(at, end, points, answer)) { }
    return answer;
}

// Reads a unit of each; true, with the answer, when that decides a comparison of UTF-16 by
// code unit: one of them has none left (the shorter first), or the two differ.
template <typename Left, typename Right>
bool units_decide(Left& left, Right& right, int& answer)
{
    char16_t a;
    char16_t b;
    const bool more_left = left.next(a);
    const bool more_right = right.next(b);
    answer = more_left && more_right ? int(a) - int(b) : int(more_left) - int(more_right);
    return answer != 0 || !more_left;
}

// UTF-16 against UTF-16, code unit by code unit.
template <typename Left, typename Right>
int compare_units(Left left, Right right)
{
    int answer;
    while (!units_decide(left, right, answer)) { }
    return answer;
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

int sentinel_rank(json_key key)
{
    return key.is_sentinel() ? (key.is_highest() ? 1 : -1) : 0;
}

constexpr quint64 every_byte(uchar byte)
{
    return 0x0101010101010101ull * byte;
}

// How many backslashes stand just before `at`, back to `floor` at most.
std::size_t backslashes_before(const char* at, const char* floor)
{
    const char* run = at;
    while (run - floor >= 8 && qFromLittleEndian<quint64>(run - 8) == every_byte('\\'))
        run -= 8;
    while (run > floor && run[-1] == '\\')
        --run;
    return std::size_t(at - run);
}

// The closing quote of a key that starts at `at`: the first quote of a key without escapes, the
// first after an even run of backslashes in an escaped one.
const char* key_end(const char* at, const char* end, bool escaped)
{
    for (;;) {
        const auto* quote = static_cast<const char*>(std::memchr(at, '"', std::size_t(end - at)));
        if (!escaped || backslashes_before(quote, at) % 2 == 0)
            return quote;
        at = quote + 1;
    }
}

// The bytes of the escape or UTF-8 character that starts at `at`.
std::size_t char_size(const char* at)
{
    const auto lead = uchar(*at);
    if (lead == '\\')
        return at[1] == 'u' ? 6 : 2;
    return lead < 0x80 ? 1 : lead < 0xe0 ? 2 : lead < 0xf0 ? 3 : 4;
}

// Where the escape or character that holds `at` starts, in a key read from `from`, where one
// starts. An escape is six bytes at most, so one that holds `at` starts among the five bytes
// before it; a run of backslashes starts where an escape or character does, and reads two by
// two.
const char* char_start(const char* from, const char* at)
{
    const char* near = at - std::min<std::ptrdiff_t>(at - from, 5);
    const auto* slash = static_cast<const char*>(std::memchr(near, '\\', std::size_t(at - near)));
    if (!slash) {
        while (at > from && (uchar(*at) & 0xc0) == 0x80)
            --at;
        return at;
    }
    const char* start = backslashes_before(slash, from) % 2 ? slash - 1 : slash;
    for (std::size_t size; (size = char_size(start)) <= std::size_t(at - start);)
        start += size;
    return start;
}

// Two keys without escapes as Qt compares them: byte by byte up to a NUL byte (strncmp), then by
// length. The end of the first is known: the text of the second differs from it before the
// first's quote, whether or not the second ends there.
int compare_plain_to_quotes(const char* a, const char* a_end, const char* b, const char* end)
{
    const auto bound = quint32(std::min(a_end + 1 - a, end - b));
    const quint32 equal = common_bytes(a, b, bound);
    if (equal == bound)
        return 0; // the first's quote too
    if (a[equal] == '"' || b[equal] == '"')
        return a[equal] == '"' ? -1 : 1;
    if (std::memchr(a, 0, equal))
        return compare_sizes(quint32(a_end - a), quint32(key_end(b, end, false) - b));
    return int(uchar(a[equal])) - int(uchar(b[equal]));
}

// Moves two keys read in step past the text they share, to where the escape or character that
// holds their first difference starts; true when they share it up to the first's closing quote,
// which is then the second's too. The second's end need not be known, as above: it is looked
// for from there, once (`b_end` null until then).
bool pass_alike(
    const char*& a, const char* a_end, const char*& b, const char*& b_end, const char* end)
{
    const auto bound = quint32(std::min(a_end + 1 - a, end - b));
    const quint32 alike = common_bytes(a, b, bound);
    if (alike == bound)
        return true;
    const char* from = char_start(a, a + alike);
    b += from - a;
    a = from;
    if (!b_end)
        b_end = key_end(b, end, true);
    return false;
}

// Two escaped keys by their UTF-16 units. Text alike in both gives the same units: it is passed
// over a block at a time, and units are read only where the texts part, until they meet again
// between two characters.
int compare_escaped(const char* a, const char* a_end, const char* b, const char* end)
{
    const char* b_end = nullptr;
    for (;;) {
        if (pass_alike(a, a_end, b, b_end, end))
            return 0;
        json_string_units left(a, a_end);
        json_string_units right(b, b_end);
        int answer;
        do {
            if (units_decide(left, right, answer))
                return answer;
        } while (!left.between_chars() || !right.between_chars());
        a = left.position();
        b = right.position();
    }
}

// A key without escapes against an escaped one, by code point (QUtf8::compareUtf8), text alike
// in both passed over as above: there it holds no escape, so the same characters.
int compare_plain_with_escaped(const char* a, const char* a_end, const char* b, const char* end)
{
    const char* b_end = nullptr;
    for (;;) {
        if (pass_alike(a, a_end, b, b_end, end))
            return 0;
        code_points<json_string_units> right(json_string_units(b, b_end));
        int answer;
        do {
            if (points_decide(a, a_end, right, answer))
                return answer;
        } while (right.holding() || !right.units().between_chars());
        b = right.units().position();
    }
}

// A key's text from its first byte: where it ends, when that is known, and whether it is escaped.
struct key_text
{
    const char* begin;
    const char* end;
    bool escaped;
};

// Two keys of a text that ends at `end`, of which only the first's end is looked for.
int compare_texts(key_text a, key_text b, const char* end)
{
    const auto ended
        = [end](key_text key) { return key.end ? key.end : key_end(key.begin, end, key.escaped); };
    if (!a.escaped && !b.escaped)
        return compare_plain_to_quotes(a.begin, ended(a), b.begin, end);
    if (a.escaped && b.escaped)
        return compare_escaped(a.begin, ended(a), b.begin, end);
    if (b.escaped)
        return compare_plain_with_escaped(a.begin, ended(a), b.begin, end);
    return -compare_plain_with_escaped(b.begin, ended(b), a.begin, end);
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

// The bytes of a key's sort form that its number is made of. Keys made of few characters (a
// caller's ids made of two or three blocks, say) need many places before they part, and a place
// where the keys hold few bytes costs the number few bits, so plain keys give sixteen. An
// escaped key is decoded to give them, twice, and eight already part most: an object holding
// one takes eight of every key, as windows of one width compare.
constexpr std::size_t window_bytes = 16;
constexpr std::size_t escaped_window_bytes = 8;
using window_text = std::array<uchar, window_bytes>;

// What the first bytes of a key's sort form tell. The form of a key without escapes is its own
// UTF-8; that of an escaped key, the UTF-8 of each of its UTF-16 units on its own (a surrogate
// as the three bytes of its value), which sorts as the units. Where two keys' windows (those
// bytes, padded with zeros) differ, they order the keys as Qt does: two keys without escapes
// unless a NUL byte among them ends Qt's comparison of their bytes; two escaped keys always;
// one of each by code point, as up to where they part the escaped key's units are its code
// points, unless a surrogate there meets a character of U+E000 or above in the other.
struct key_window
{
    window_text bytes {};
    bool whole = false; // the key ends within them and holds no zero byte: it is its window
    bool nul = false; // a NUL byte among them
    bool high = false; // a character of U+E000 or above starts among them
    bool surrogate = false; // a surrogate unit starts among them
};

key_window window_of(const char* source, json_key key, std::size_t width)
{
    key_window window;
    uchar* const bytes = window.bytes.data();
    const char* at = source + key.begin();
    if (key.form() == json_string_form::utf8) {
        const quint32 size = std::min<quint32>(key.size(), width);
        std::memcpy(bytes, at, size);
        // Eight bytes at a time, the places past the key's end (zeros) read as not zero.
        constexpr quint64 ones = every_byte(0x01);
        constexpr quint64 tops = every_byte(0x80);
        for (quint32 i = 0; i < width; i += 8) {
            const auto word = qFromLittleEndian<quint64>(bytes + i);
            const quint32 held = size > i ? std::min<quint32>(size - i, 8) : 0;
            const quint64 padded = word | (held == 8 ? 0 : ~quint64(0) << (8 * held));
            window.nul = window.nul || ((padded - ones) & ~padded & tops);
            // A byte of 0xee and up: its top bit set, and its low seven bits of 0x6e and up.
            const quint64 low = (word & ~tops) + every_byte(0x12);
            window.high = window.high || (low & word & tops);
        }
        window.whole = key.size() <= width && !window.nul;
    } else {
        json_string_units units(at, at + key.size());
        std::size_t filled = 0;
        bool more = true;
        bool cut = false;
        bool zero = false;
        char16_t unit;
        while (filled < width && (more = units.next(unit))) {
            window.surrogate = window.surrogate || is_surrogate(unit);
            zero = zero || unit == 0;
            uchar code[3];
            std::size_t size = 1;
            if (unit < 0x80) {
                code[0] = uchar(unit);
            } else if (unit < 0x800) {
                code[0] = uchar(0xc0 | (unit >> 6));
                code[1] = uchar(0x80 | (unit & 0x3f));
                size = 2;
            } else {
                code[0] = uchar(0xe0 | (unit >> 12));
                code[1] = uchar(0x80 | ((unit >> 6) & 0x3f));
                code[2] = uchar(0x80 | (unit & 0x3f));
                size = 3;
            }
            cut = filled + size > width;
            for (std::size_t i = 0; i < size && filled < width; ++i)
                bytes[filled++] = code[i];
        }
        // A unit cut at the window's last byte leaves more of the key than the window holds.
        if (more && !cut)
            more = units.next(unit);
        window.whole = !more && !zero;
    }
    return window;
}

// A window squeezed into a number: each of its bytes as its rank among the bytes the keys of an
// object hold in that place, in as many bits as the ranks there need, and of these the highest
// up to a number. Two squeezed windows that differ are in the order of the windows, as each rank
// keeps the order of the bytes and the bits left out are below those kept.
class squeeze
{
public:
    // Notes the bytes of one window.
    void see(const window_text& bytes)
    {
        for (std::size_t i = 0; i < window_bytes; ++i)
            seen_[i][bytes[i] / 64] |= quint64(1) << (bytes[i] % 64);
    }

    // Ranks the bytes seen, into `most` bits at most.
    void rank(int most)
    {
        int left = most;
        for (std::size_t i = 0; i < window_bytes; ++i) {
            uint count = 0;
            for (uint byte = 0; byte < 256; ++byte) {
                rank_[i][byte] = uchar(count);
                count += (seen_[i][byte / 64] >> (byte % 64)) & 1;
            }
            int bits = 0;
            while ((1u << bits) < count)
                ++bits;
            width_[i] = std::min(bits, left);
            cut_[i] = bits - width_[i];
            left -= width_[i];
            whole_ = whole_ && cut_[i] == 0;
            if (width_[i] > 0)
                used_ = i + 1;
        }
    }

    // Whether no bit was left out: then equal squeezed windows are equal windows.
    bool whole() const { return whole_; }

    quint64 operator()(const window_text& bytes) const
    {
        quint64 out = 0;
        for (std::size_t i = 0; i < used_; ++i)
            out = (out << width_[i]) | (rank_[i][bytes[i]] >> cut_[i]);
        return out;
    }

private:
    std::array<std::array<quint64, 4>, window_bytes> seen_ {};
    std::array<std::array<uchar, 256>, window_bytes> rank_ {};
    std::array<int, window_bytes> width_ {};
    std::array<int, window_bytes> cut_ {};
    std::size_t used_ = 0; // the places up to the last that gives the number a bit
    bool whole_ = true;
};

quint64 code_of(json_key key)
{
    quint64 code;
    std::memcpy(&code, &key, sizeof code);
    return code;
}

json_key key_of(quint64 code)
{
    json_key key;
    std::memcpy(static_cast<void*>(&key), &code, sizeof key);
    return key;
}

static_assert(sizeof(json_key) == sizeof(quint64), "a key and its sort code share a place");

} // namespace

int json_key_sorter::compare(json_key a, json_key b) const
{
    if (a.is_sentinel() || b.is_sentinel())
        return sentinel_rank(a) - sentinel_rank(b);
    const auto text = [this](json_key key) {
        const char* begin = source_ + key.begin();
        return key_text { begin, begin + key.size(), key.form() == json_string_form::utf16 };
    };
    return compare_texts(text(a), text(b), end_);
}

namespace {

// The bits that tell where a key of a text of `size` bytes starts, with room for a value above
// every such place.
int begin_bits(qsizetype size)
{
    int bits = 1;
    while ((quint64(1) << bits) - 1 <= quint64(size))
        ++bits;
    return bits;
}

} // namespace

json_key_sorter::json_key_sorter(const char* source, qsizetype size)
    : source_(source)
    , end_(source + size)
    , begin_bits_(begin_bits(size))
{ }

int json_key_sorter::compare_codes(quint64 a, quint64 b) const
{
    const quint64 a_begin = a & begin_mask();
    const quint64 b_begin = b & begin_mask();
    const auto sentinel = [this](quint64 begin) { return begin == 0 || begin == begin_mask(); };
    if (sentinel(a_begin) || sentinel(b_begin))
        return compare(sorted_key(a), sorted_key(b));
    return compare_texts({ source_ + a_begin, nullptr, bool(a & escaped_bit()) },
        { source_ + b_begin, nullptr, bool(b & escaped_bit()) }, end_);
}

json_key json_key_sorter::sorted_key(quint64 code) const
{
    const quint64 begin = code & begin_mask();
    if (begin == 0)
        return json_key::lowest();
    if (begin == begin_mask())
        return json_key::highest();
    const bool escaped = code & escaped_bit();
    const char* at = source_ + begin;
    return json_key(quint32(begin), quint32(key_end(at, end_, escaped) - at),
        escaped ? json_string_form::utf16 : json_string_form::utf8);
}

json_key* json_key_sorter::sort(json_key* first, json_key* last)
{
    // A small object is compared where it stands: its keys are near one another.
    if (last - first < 64) {
        return sort_keeping_last(
            first, last, [this](json_key a, json_key b) { return compare(a, b); });
    }
    const bool escapes = std::any_of(
        first, last, [](json_key key) { return key.form() == json_string_form::utf16; });
    const std::size_t width = escapes ? escaped_window_bytes : window_bytes;
    // The bytes of the windows, and whether surrogates meet characters of U+E000 or above: then
    // the keys of the fewer kind are compared whole, and all NUL keys are.
    squeeze squeezed;
    std::size_t high = 0;
    std::size_t surrogates = 0;
    for (const json_key* key = first; key < last; ++key) {
        const key_window window = window_of(source_, *key, width);
        squeezed.see(window.bytes);
        high += key->form() == json_string_form::utf8 && window.high;
        surrogates += key->form() == json_string_form::utf16 && window.surrogate;
    }
    const bool slow_high = high && surrogates && high <= surrogates;
    const bool slow_surrogates = high && surrogates && !slow_high;
    squeezed.rank(64 - prefix_shift());
    for (json_key* key = first; key < last; ++key) {
        const key_window window = window_of(source_, *key, width);
        const bool utf16 = key->form() == json_string_form::utf16;
        const bool slow = utf16 ? slow_surrogates && window.surrogate
                                : window.nul || (slow_high && window.high);
        // Equal squeezed windows are equal windows only when no bit was left out.
        const bool whole = window.whole && squeezed.whole();
        *key = key_of((squeezed(window.bytes) << prefix_shift()) | (whole ? whole_bit() : 0)
            | (slow ? slow_bit() : 0) | (utf16 ? escaped_bit() : 0) | key->begin());
    }
    first[-1] = key_of(0);
    *last = key_of(~quint64(0));
    // Where two codes answer, they answer as compare() would, so the same std::sort leaves the
    // same order, equal keys included.
    const quint64 slow = slow_bit();
    const quint64 whole = whole_bit();
    const int shift = prefix_shift();
    json_key* kept = sort_keeping_last(first, last, [&](json_key x, json_key y) {
        const quint64 a = code_of(x);
        const quint64 b = code_of(y);
        if (!((a | b) & slow)) {
            if ((a ^ b) >> shift)
                return a < b ? -1 : 1;
            if (a & b & whole)
                return 0;
        }
        return compare_codes(a, b);
    });
    first[-1] = json_key::lowest();
    *last = json_key::highest();
    std::transform(kept, last, kept, [this](json_key key) { return sorted_key(code_of(key)); });
    return kept;
}
