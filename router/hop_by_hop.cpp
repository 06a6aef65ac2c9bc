#include "router/hop_by_hop.h"

#include "http/qhttp_header_key.h"
#include "http/qhttp_header_name.h"

#include <QtAlgorithms>
#include <QtEndian>
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

struct listed_name
{
    const char* data;
    int size;
};

// Up to this many on one side, comparing every pair costs less than a table.
constexpr int few = 8;

} // namespace

Q_DECLARE_TYPEINFO(listed_name, Q_PRIMITIVE_TYPE);

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

    // Compared pair by pair while one side is short. A list of thousands of names against a
    // handful of headers passes over most names by their length alone.
    quint64 lengths = 0;
    for (int i = 0; i < headers; ++i)
        lengths |= quint64(1) << (names_[i]->size() & 63);
    const auto mark = [&](const char* data, int size) {
        if (!(lengths >> (size & 63) & 1))
            return;
        for (int i = 0; i < headers; ++i)
            if (same_header_name(names_[i]->constData(), names_[i]->size(), data, size))
                covered_[i] = true;
    };
    if (headers <= few) {
        for (const QByteArray* list : lists_)
            for_each_listed(*list, mark);
        return;
    }
    QVarLengthArray<listed_name, 16> listed;
    for (const QByteArray* list : lists_)
        for_each_listed(*list, [&](const char* data, int size) { listed.append({ data, size }); });
    if (listed.size() <= few) {
        for (const listed_name& l : listed)
            mark(l.data, l.size);
        return;
    }

    // Open addressing over the distinct names listed: a name listed again stops at its first
    // copy, so repeating one name thousands of times builds no long run either.
    int capacity = 16;
    while (capacity < 2 * listed.size())
        capacity *= 2;
    const uint mask = uint(capacity - 1);
    struct slot
    {
        uint hash;
        int listed; // -1: empty
    };
    std::vector<slot> table(size_t(capacity), slot { 0, -1 });
    const auto probe = [&](const char* data, int size, uint hash) {
        uint i = hash & mask;
        while (table[i].listed >= 0) {
            const listed_name& l = listed[table[i].listed];
            if (table[i].hash == hash && same_header_name(data, size, l.data, l.size))
                break;
            i = (i + 1) & mask;
        }
        return i;
    };
    for (int j = 0; j < listed.size(); ++j) {
        const uint hash = qhttp::header_name_hash(listed[j].data, listed[j].size);
        const uint i = probe(listed[j].data, listed[j].size, hash);
        if (table[i].listed < 0)
            table[i] = slot { hash, j };
    }
    for (int i = 0; i < headers; ++i) {
        if (covered_[i])
            continue;
        const QByteArray& name = *names_[i];
        const uint hash = qhttp::header_name_hash(name.constData(), name.size());
        covered_[i] = table[probe(name.constData(), name.size(), hash)].listed >= 0;
    }
}
