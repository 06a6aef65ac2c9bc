#pragma once

#include <QStringView>
#include <QtGlobal>
#include <algorithm>
#include <memory>
#include <vector>

// Ids a request names that are no parts of a text of its own (the keys of a JSON body, the
// numbers of an array), copied end to end into blocks that never move, each after its length:
// an id costs its characters and four bytes, and is named by four bytes more, its block and
// where it starts there.
class named_ids
{
public:
    quint32 keep(QStringView id)
    {
        const qsizetype units = id.size() + 2;
        if (units > block_units - used_) {
            blocks_.push_back(
                std::make_unique<char16_t[]>(std::size_t(std::max(units, block_units))));
            used_ = 0;
        }
        char16_t* at = blocks_.back().get() + used_;
        const quint32 size = quint32(id.size());
        at[0] = char16_t(size & 0xffff);
        at[1] = char16_t(size >> 16);
        std::copy(id.utf16(), id.utf16() + id.size(), at + 2);
        const quint32 ref = quint32(blocks_.size() - 1) << offset_bits | quint32(used_);
        // An id longer than a block has one of its own.
        used_ = std::min(used_ + units, block_units);
        return ref;
    }

    QStringView text(quint32 ref) const
    {
        const char16_t* at = blocks_[ref >> offset_bits].get() + (ref & (block_units - 1));
        return QStringView(at + 2, qsizetype(at[0]) | qsizetype(at[1]) << 16);
    }

private:
    // 2^18 blocks of 2^14 units: many times what the ids of a body within the server's bound
    // (64 MiB) fill, however long each.
    static constexpr int offset_bits = 14;
    static constexpr qsizetype block_units = qsizetype(1) << offset_bits;

    std::vector<std::unique_ptr<char16_t[]>> blocks_;
    qsizetype used_ = block_units; // units taken in the last block
};
