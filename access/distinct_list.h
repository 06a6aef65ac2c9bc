#pragma once

#include "app/keyed_hash.h"

#include <QByteArray>
#include <QStringView>
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

// The distinct values of a list a caller sent, in the order each first came: what a store is
// asked about, each value once, in the order it has always been asked. The table is hashed under
// the process secret, so no choice of values makes a look-up walk the others, and it holds
// positions only: a list of views costs the views and a few bytes a value (the texts they view
// must outlive it).
template <class T>
class distinct_list
{
public:
    // The position of `value`, added at the end when it is new.
    int add(const T& value)
    {
        if (2 * (values_.size() + 1) > slots_.size())
            grow();
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t slot = distinct_hash(value) & mask;; slot = (slot + 1) & mask) {
            const int taken = slots_[slot];
            if (taken == 0) {
                values_.push_back(value);
                slots_[slot] = int(values_.size());
                return int(values_.size()) - 1;
            }
            if (values_[std::size_t(taken - 1)] == value)
                return taken - 1;
        }
    }

    // The position of `value`, or -1 when it is not in the list.
    int position(const T& value) const
    {
        if (slots_.empty())
            return -1;
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t slot = distinct_hash(value) & mask;; slot = (slot + 1) & mask) {
            const int taken = slots_[slot];
            if (taken == 0)
                return -1;
            if (values_[std::size_t(taken - 1)] == value)
                return taken - 1;
        }
    }

    int size() const { return int(values_.size()); }
    const T& operator[](int position) const { return values_[std::size_t(position)]; }
    const std::vector<T>& values() const { return values_; }

private:
    // Doubles the table (at least 16 slots), so that it stays at most half full.
    void grow()
    {
        std::vector<int> wider(std::max<std::size_t>(16, 2 * slots_.size()), 0);
        const std::size_t mask = wider.size() - 1;
        for (std::size_t i = 0; i < values_.size(); ++i) {
            std::size_t slot = distinct_hash(values_[i]) & mask;
            while (wider[slot] != 0)
                slot = (slot + 1) & mask;
            wider[slot] = int(i + 1);
        }
        slots_.swap(wider);
    }

    std::vector<T> values_;
    // Positions plus one; 0 marks a free slot. The size is a power of two.
    std::vector<int> slots_;
};
