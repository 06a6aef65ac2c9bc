#pragma once

#include "app/keyed_hash.h"

#include <QByteArray>
#include <QStringView>
#include <QtGlobal>
#include <algorithm>
#include <cstddef>
#include <vector>

inline uint distinct_hash(QStringView text) noexcept
{
    return keyed_hash(text.data(), std::size_t(text.size()) * sizeof(QChar));
}

inline uint distinct_hash(const QByteArray& bytes) noexcept
{
    return keyed_hash(bytes);
}

inline uint distinct_hash(int number) noexcept
{
    return keyed_hash(&number, sizeof number);
}

// The look-up table of a list of distinct values that its owner keeps, in the order each first
// came: four bytes a slot, each taken slot the position of a value plus one. The values are
// hashed under the process secret, so no choice of them makes a look-up walk the others. It is
// kept at most half full, and widens from the values themselves: the old slots are given back
// before the new ones are taken, so widening never holds both. Any number of slots will do (a
// hash picks its slot by multiplying, not by a mask), so a list whose length is known in advance
// gets twice that many, not the next power of two past it.
class position_table
{
public:
    // How many values the list will hold at most, when known in advance: the table then grows
    // no wider than twice that.
    void expect(std::size_t values) { expected_ = values; }

    // The position of the value of hash `hash` that `same(position)` finds equal; when there is
    // none, `count` (the list's size, where the new value goes), taken. `hash_of(position)` is a
    // value's hash, asked for when the table widens.
    template <class Same, class HashOf>
    int add(uint hash, int count, Same&& same, HashOf&& hash_of)
    {
        if (2 * (std::size_t(count) + 1) > slots_.size())
            widen(count, hash_of);
        for (std::size_t slot = first_slot(hash);; slot = next_slot(slot)) {
            const quint32 taken = slots_[slot];
            if (taken == 0) {
                slots_[slot] = quint32(count) + 1;
                return count;
            }
            if (same(int(taken - 1)))
                return int(taken - 1);
        }
    }

    // The position of the value of hash `hash` that `same(position)` finds equal, or -1.
    template <class Same>
    int find(uint hash, Same&& same) const
    {
        if (slots_.empty())
            return -1;
        for (std::size_t slot = first_slot(hash);; slot = next_slot(slot)) {
            const quint32 taken = slots_[slot];
            if (taken == 0)
                return -1;
            if (same(int(taken - 1)))
                return int(taken - 1);
        }
    }

private:
    std::size_t first_slot(uint hash) const
    {
        return std::size_t((quint64(hash) * slots_.size()) >> 32);
    }
    std::size_t next_slot(std::size_t slot) const
    {
        return slot + 1 == slots_.size() ? 0 : slot + 1;
    }

    // Room for one value more than `count`: twice the slots (sixteen at first) or, while the
    // list stays within its expected count and that fits in them, twice that at once, rather
    // than a last widening by a few slots that hashes every value again.
    template <class HashOf>
    void widen(int count, HashOf&& hash_of)
    {
        std::size_t size = std::max<std::size_t>(16, 2 * slots_.size());
        if (expected_ > std::size_t(count) && expected_ <= size)
            size = 2 * expected_;
        std::vector<quint32>().swap(slots_);
        slots_.assign(size, 0);
        for (int position = 0; position < count; ++position) {
            std::size_t slot = first_slot(hash_of(position));
            while (slots_[slot] != 0)
                slot = next_slot(slot);
            slots_[slot] = quint32(position) + 1;
        }
    }

    std::vector<quint32> slots_;
    std::size_t expected_ = 0;
};

// The distinct values of a list a caller sent, in the order each first came: what a store is
// asked about, each value once, in the order it has always been asked. A list of views costs the
// views and at most twice four bytes a value besides (the texts they view must outlive it).
template <class T>
class distinct_list
{
public:
    distinct_list() = default;
    // For a list of at most `expected` values: room for them is set aside at once (memory a
    // shorter list never writes to costs nothing), and the table sized for them.
    explicit distinct_list(std::size_t expected)
    {
        values_.reserve(expected);
        table_.expect(expected);
    }

    // The position of `value`, added at the end when it is new.
    int add(const T& value)
    {
        const int count = size();
        const int at = table_.add(
            distinct_hash(value), count, [&](int p) { return values_[std::size_t(p)] == value; },
            [&](int p) { return distinct_hash(values_[std::size_t(p)]); });
        if (at == count)
            values_.push_back(value);
        return at;
    }

    // The position of `value`, or -1 when it is not in the list.
    int position(const T& value) const
    {
        return table_.find(
            distinct_hash(value), [&](int p) { return values_[std::size_t(p)] == value; });
    }

    int size() const { return int(values_.size()); }
    const T& operator[](int position) const { return values_[std::size_t(position)]; }
    const std::vector<T>& values() const { return values_; }

private:
    std::vector<T> values_;
    position_table table_;
};
