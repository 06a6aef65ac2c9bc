#include "amqp/command_deadlines.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

using clock_type = command_deadlines::clock;
using std::chrono::milliseconds;

const clock_type::time_point t0 {};

command_deadlines::entry at(int ms, std::uint64_t serial)
{
    return { t0 + milliseconds(ms), serial, QUuid() };
}

std::vector<std::uint64_t> serials_due(command_deadlines& list, int now_ms)
{
    std::vector<std::uint64_t> out;
    while (const auto due = list.take_due(t0 + milliseconds(now_ms)))
        out.push_back(due->serial);
    return out;
}

// Entries come out earliest first, equal deadlines in the order they were added, and `add`
// says when the timer must be set anew.
TEST(CommandDeadlines, KeepDeadlineOrder)
{
    struct row
    {
        const char* behaviour;
        std::vector<int> added_ms; // serials 1, 2, ... in this order
        std::vector<bool> earliest; // what each add returned
        int now_ms;
        std::vector<std::uint64_t> due; // taken at now_ms
        std::size_t left;
    };
    const row rows[] = {
        { "one time-out for all: first in, first out", { 10, 20, 30 }, { true, false, false }, 25,
            { 1, 2 }, 1 },
        { "a shorter time-out goes ahead", { 100, 200, 50 }, { true, false, true }, 150, { 3, 1 },
            1 },
        { "into the middle", { 10, 30, 20 }, { true, false, false }, 30, { 1, 3, 2 }, 0 },
        { "equal deadlines keep their order", { 10, 10, 5, 10 }, { true, false, true, false }, 10,
            { 3, 1, 2, 4 }, 0 },
        { "nothing due yet", { 10, 20 }, { true, false }, 9, {}, 2 },
        { "due exactly at its deadline", { 10 }, { true }, 10, { 1 }, 0 },
    };
    for (const row& r : rows) {
        command_deadlines list;
        for (std::size_t i = 0; i < r.added_ms.size(); ++i)
            EXPECT_EQ(list.add(at(r.added_ms[i], i + 1)), r.earliest[i])
                << r.behaviour << " #" << i;
        EXPECT_EQ(serials_due(list, r.now_ms), r.due) << r.behaviour;
        EXPECT_EQ(list.size(), r.left) << r.behaviour;
    }
}

TEST(CommandDeadlines, DropLeavesTheOthersInOrder)
{
    command_deadlines list;
    for (std::uint64_t serial = 1; serial <= 6; ++serial)
        list.add(at(int(serial) * 10, serial));
    list.drop([](const command_deadlines::entry& e) { return e.serial % 2 == 0; });
    ASSERT_EQ(list.size(), 3u);
    ASSERT_NE(list.front(), nullptr);
    EXPECT_EQ(list.front()->serial, 1u);
    EXPECT_EQ(serials_due(list, 1000), (std::vector<std::uint64_t> { 1, 3, 5 }));
    EXPECT_EQ(list.front(), nullptr);
}

} // namespace
