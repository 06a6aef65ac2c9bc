#pragma once

#include <QUuid>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

// The time-outs of the commands in flight, earliest first, so that one timer serves them all.
// A command that completes is not looked for here: its entry stays until it is due or until
// `drop` clears the list of such entries, and the owner tells by the serial whether an entry
// still stands for a command in flight.
class command_deadlines
{
public:
    using clock = std::chrono::steady_clock;
    struct entry
    {
        clock::time_point due;
        std::uint64_t serial = 0; // distinguishes two commands that got the same id
        QUuid id;
    };

    // Adds an entry after those due no later; true when it is now the earliest.
    bool add(const entry& added);
    // The earliest entry, if any.
    const entry* front() const { return entries_.empty() ? nullptr : &entries_.front(); }
    void pop_front() { entries_.pop_front(); }
    // Takes out the earliest entry if it is due at `now`.
    std::optional<entry> take_due(clock::time_point now);
    // Removes every entry for which `stale` holds.
    void drop(const std::function<bool(const entry&)>& stale);
    std::size_t size() const { return entries_.size(); }

private:
    std::deque<entry> entries_;
};
