#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

// A sequence that takes an insert anywhere in time of about the square root of its size and
// gives an item by its index in time of the log of that: the items in chunks of about that many,
// with where each chunk starts. For a run of inserts into a long sequence, where one vector
// would move every item after each.
template <typename T>
class chunked_vector
{
public:
    explicit chunked_vector(const std::vector<T>& items)
        : chunk_(std::max<std::size_t>(64, std::size_t(std::sqrt(double(items.size())))))
        , size_(items.size())
    {
        for (std::size_t at = 0; at < items.size() || at == 0; at += chunk_) {
            const auto end = items.begin() + std::ptrdiff_t(std::min(at + chunk_, items.size()));
            chunks_.emplace_back(items.begin() + std::ptrdiff_t(at), end);
            starts_.push_back(at);
        }
    }

    std::size_t size() const { return size_; }
    T& operator[](std::size_t i)
    {
        const std::size_t c = chunk_of(i);
        return chunks_[c][i - starts_[c]];
    }
    const T& operator[](std::size_t i) const
    {
        const std::size_t c = chunk_of(i);
        return chunks_[c][i - starts_[c]];
    }

    // Puts `item` before the one at `i` (at the end for size()).
    void insert(std::size_t i, T item)
    {
        const std::size_t c = i == size_ ? chunks_.size() - 1 : chunk_of(i);
        std::vector<T>& chunk = chunks_[c];
        chunk.insert(chunk.begin() + std::ptrdiff_t(i - starts_[c]), std::move(item));
        ++size_;
        for (std::size_t later = c + 1; later < starts_.size(); ++later)
            ++starts_[later];
        if (chunk.size() <= 2 * chunk_)
            return;
        std::vector<T> tail(chunk.begin() + std::ptrdiff_t(chunk_), chunk.end());
        chunk.resize(chunk_);
        chunks_.insert(chunks_.begin() + std::ptrdiff_t(c + 1), std::move(tail));
        starts_.insert(starts_.begin() + std::ptrdiff_t(c + 1), starts_[c] + chunk_);
    }

    // The items in order, in one vector.
    std::vector<T> items() const
    {
        std::vector<T> out;
        out.reserve(size_);
        for (const std::vector<T>& chunk : chunks_)
            out.insert(out.end(), chunk.begin(), chunk.end());
        return out;
    }

private:
    std::size_t chunk_of(std::size_t i) const
    {
        return std::size_t(std::upper_bound(starts_.begin(), starts_.end(), i) - starts_.begin())
            - 1;
    }

    std::size_t chunk_;
    std::size_t size_;
    std::vector<std::vector<T>> chunks_; // none empty, but the only one of an empty sequence
    std::vector<std::size_t> starts_;
};
