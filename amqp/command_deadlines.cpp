#include "amqp/command_deadlines.h"

#include <algorithm>

bool command_deadlines::add(const entry& added)
{
    // Commands share one time-out, so the new entry nearly always goes last.
    if (entries_.empty() || entries_.back().due <= added.due) {
        entries_.push_back(added);
        return entries_.size() == 1;
    }
    const auto at = std::upper_bound(entries_.begin(), entries_.end(), added.due,
        [](clock::time_point due, const entry& e) { return due < e.due; });
    const bool earliest = at == entries_.begin();
    entries_.insert(at, added);
    return earliest;
}

std::optional<command_deadlines::entry> command_deadlines::take_due(clock::time_point now)
{
    if (entries_.empty() || entries_.front().due > now)
        return std::nullopt;
    entry due = entries_.front();
    entries_.pop_front();
    return due;
}

void command_deadlines::drop(const std::function<bool(const entry&)>& stale)
{
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(), stale), entries_.end());
}
