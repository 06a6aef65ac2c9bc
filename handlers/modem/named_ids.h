#pragma once

#include <QStringView>
#include <algorithm>
#include <memory>
#include <vector>

// Ids a request names that are no views into a text of its own (the keys of a JSON body, the
// numbers of an array), copied into blocks that never move: each costs its characters, not a
// QString, and the view of it stays valid as long as this.
class named_ids
{
public:
    QStringView keep(QStringView id)
    {
        if (id.size() > room_) {
            room_ = std::max(block_units, id.size());
            blocks_.push_back(std::make_unique<char16_t[]>(std::size_t(room_)));
            next_ = blocks_.back().get();
        }
        std::copy(id.utf16(), id.utf16() + id.size(), next_);
        const QStringView kept(next_, id.size());
        next_ += id.size();
        room_ -= id.size();
        return kept;
    }

private:
    static constexpr qsizetype block_units = 16384;

    std::vector<std::unique_ptr<char16_t[]>> blocks_;
    char16_t* next_ = nullptr;
    qsizetype room_ = 0; // units free from next_ on
};
