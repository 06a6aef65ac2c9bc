#include "router/chunked_vector.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

// Inserts at random places, runs at one place and at the ends, into sequences of a few chunks
// and of none: after each, every index reads what a vector given the same inserts holds, so a
// chunk start not moved on or a split in the wrong place shows at once.
TEST(ChunkedVector, ReadsAsAVectorGivenTheSameInserts)
{
    struct row
    {
        const char* behaviour;
        int start;
        int inserts;
        int (*place)(QRandomGenerator&, int size);
    };
    const row rows[] = {
        { "anywhere", 300, 700,
            [](QRandomGenerator& r, int size) { return int(r.bounded(size + 1)); } },
        { "one_place_until_chunks_split", 200, 600, [](QRandomGenerator&, int) { return 70; } },
        { "at_the_end", 0, 400, [](QRandomGenerator&, int size) { return size; } },
        { "at_the_front", 5, 400, [](QRandomGenerator&, int) { return 0; } },
    };
    for (const row& r : rows) {
        QRandomGenerator random(41);
        std::vector<int> expected(std::size_t(r.start));
        for (int i = 0; i < r.start; ++i)
            expected[std::size_t(i)] = i;
        chunked_vector<int> chunked(expected);
        for (int i = 0; i < r.inserts; ++i) {
            const int at = r.place(random, int(expected.size()));
            expected.insert(expected.begin() + at, -i - 1);
            chunked.insert(std::size_t(at), -i - 1);
            ASSERT_EQ(chunked.size(), expected.size()) << r.behaviour;
            for (std::size_t j = 0; j < expected.size(); ++j)
                ASSERT_EQ(chunked[j], expected[j]) << r.behaviour << " insert " << i << " at " << j;
        }
        EXPECT_EQ(chunked.items(), expected) << r.behaviour;
    }
}

} // namespace
