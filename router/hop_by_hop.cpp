#include "router/hop_by_hop.h"

#include "http/qhttp_header_key.h"
#include "http/qhttp_header_name.h"

#include <QtAlgorithms>
#include <QtEndian>
#include <optional>
#include <vector>

namespace {

using qhttp::is_header_name;
using qhttp::same_header_name;

// The blanks QByteArray::trimmed() takes away, whatever the locale says.
inline bool is_blank(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool is_standard(const QByteArray& name)
{
    return is_header_name(name, "connection") || is_header_name(name, "keep-alive")
        || is_header_name(name, "proxy-connection") || is_header_name(name, "te")
        || is_header_name(name, "trailer") || is_header_name(name, "upgrade");
}

// The first comma from `p` on, or `end`. A list may hold thousands of short names: eight bytes
// are looked at in one step.
const char* next_comma(const char* p, const char* end)
{
    for (; end - p >= 8; p += 8) {
        // A comma becomes a zero byte, and the lowest top bit set marks the first zero byte
        // (those above it may be wrong).
        const quint64 x = qFromLittleEndian<quint64>(p) ^ 0x2c2c2c2c2c2c2c2cULL;
        const quint64 zero = (x - 0x0101010101010101ULL) & ~x & 0x8080808080808080ULL;
        if (zero)
            return p + (qCountTrailingZeroBits(zero) >> 3);
    }
    while (p < end && *p != ',')
        ++p;
    return p;
}

// Calls found(data, size) for each name a Connection value lists: the items between commas,
// without the blanks around them; an empty item names nothing.
template <class Found>
void for_each_listed(const QByteArray& value, Found found)
{
    const char* item = value.constData();
    const char* const end = item + value.size();
    for (;;) {
        const char* const comma = next_comma(item, end);
        const char* from = item;
        const char* to = comma;
        while (from < to && is_blank(*from))
            ++from;
        while (to > from && is_blank(to[-1]))
            --to;
        if (to > from)
            found(from, int(to - from));
        if (comma == end)
            return;
        item = comma + 1;
    }
}

// Up to this many comparisons of a listed name with a header in all, comparing pair by pair
// costs less than a table. Counted over both sides, not one: a handful of headers against
// thousands of names of their length and prefix would cost thousands of full comparisons.
constexpr int few_pairs = 64;

// The distinct names among the headers, under a secret hash (open addressing), each with the
// positions of the headers that bear it. A listed name is looked up in time that grows with
// neither side, and the headers of a name are marked only the first time it is found: a name
// listed thousands of times over thousands of headers of that name costs no product either.
class header_table
{
public:
    // Takes in every header not yet covered.
    header_table(const QVarLengthArray<const QByteArray*, 16>& names,
        const QVarLengthArray<bool, 16>& covered)
        : names_(names)
        , next_(size_t(names.size()), -1)
    {
        size_t capacity = 16;
        while (capacity < 2 * size_t(names.size()))
            capacity *= 2;
        slots_.assign(capacity, slot {});
        for (int i = 0; i < names.size(); ++i) {
            if (covered[i])
                continue;
            const QByteArray& name = *names[i];
            const uint hash = qhttp::header_name_hash(name.constData(), name.size());
            slot& s = find(name.constData(), name.size(), hash);
            s.hash = hash;
            next_[size_t(i)] = s.first;
            s.first = i;
        }
    }

    // Marks the headers that bear the name as covered.
    void cover(const char* data, int size, QVarLengthArray<bool, 16>& covered)
    {
        slot& s = find(data, size, qhttp::header_name_hash(data, size));
        if (s.first < 0 || s.marked)
            return;
        s.marked = true;
        for (int i = s.first; i >= 0; i = next_[size_t(i)])
            covered[i] = true;
    }

private:
    struct slot
    {
        uint hash = 0;
        int first = -1; // the last header of the name; -1: an empty slot
        bool marked = false;
    };

    // The slot of the name, or the empty one where it would go.
    slot& find(const char* data, int size, uint hash)
    {
        const size_t mask = slots_.size() - 1;
        size_t i = hash & mask;
        for (; slots_[i].first >= 0; i = (i + 1) & mask) {
            const QByteArray& name = *names_[slots_[i].first];
            if (slots_[i].hash == hash
                && same_header_name(data, size, name.constData(), name.size()))
                return slots_[i];
        }
        return slots_[i];
    }

    const QVarLengthArray<const QByteArray*, 16>& names_;
    std::vector<int> next_; // by header: the previous header of the same name, or -1
    std::vector<slot> slots_;
};

} // namespace

void hop_by_hop::add(const QByteArray& name, const QByteArray& value)
{
    names_.append(&name);
    if (is_header_name(name, "connection"))
        lists_.append(&value);
}

bool hop_by_hop::covers(int position) const
{
    if (!decided_)
        decide();
    return covered_.at(position);
}

void hop_by_hop::decide() const
{
    decided_ = true;
    const int headers = names_.size();
    covered_.resize(headers);
    for (int i = 0; i < headers; ++i)
        covered_[i] = is_standard(*names_[i]);
    if (lists_.isEmpty())
        return;

    // A name of a length no header has names nothing here: a list of thousands of names against
    // a handful of headers loses most of them by their length alone.
    quint64 lengths = 0;
    for (int i = 0; i < headers; ++i)
        lengths |= quint64(1) << (names_[i]->size() & 63);
    int pairs = 0;
    std::optional<header_table> table;
    const auto cover = [&](const char* data, int size) {
        if (!(lengths >> (size & 63) & 1))
            return;
        if (pairs + headers <= few_pairs) {
            pairs += headers;
            for (int i = 0; i < headers; ++i)
                if (same_header_name(names_[i]->constData(), names_[i]->size(), data, size))
                    covered_[i] = true;
            return;
        }
        if (!table)
            table.emplace(names_, covered_);
        table->cover(data, size, covered_);
    };
    for (const QByteArray* list : lists_)
        for_each_listed(*list, cover);
}
