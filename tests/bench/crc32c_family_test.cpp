#include "bench/crc32c_family.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <algorithm>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

// The benchmarks' hostile inputs measure nothing unless Qt really hashes them alike: checked
// against Qt's own hash, under several seeds.

namespace {

TEST(crc32c_family, texts_share_qt_hash_under_every_seed)
{
    // Qt hashes with CRC-32C only where the processor has the instruction.
    if (!__builtin_cpu_supports("sse4.2"))
        GTEST_SKIP() << "no SSE 4.2: Qt's hash is not CRC-32C here";
    struct row
    {
        const char* behaviour;
        std::string base;
        std::vector<size_t> positions;
        int unit;
    };
    const std::string token(998, 'a');
    const row rows[] = {
        { "header names, hashed as bytes", "x" + std::string(20, 'a'),
            { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20 }, 1 },
        { "modem ids, hashed as UTF-16 units", "x" + std::string(21, 'a'),
            { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21 }, 2 },
        { "tokens, changed at their end only", token,
            { 977, 978, 979, 980, 981, 982, 983, 984, 985, 986, 987, 988, 989, 990, 991, 992, 993,
                994, 995, 996, 997 },
            1 },
    };
    for (const row& r : rows) {
        const std::vector<std::string> texts = crc32c_family(r.base, r.positions, r.unit, 200);
        ASSERT_EQ(texts.size(), 200u) << r.behaviour;
        EXPECT_EQ(std::set<std::string>(texts.begin(), texts.end()).size(), texts.size())
            << r.behaviour;
        for (const uint seed : { 1u, 0x5bd1e995u, 0xffffffffu }) {
            std::set<uint> hashes;
            for (const std::string& text : texts) {
                ASSERT_EQ(text.size(), r.base.size()) << r.behaviour;
                hashes.insert(r.unit == 1 ? qHash(QByteArray::fromStdString(text), seed)
                                          : qHash(QString::fromStdString(text), seed));
            }
            EXPECT_EQ(hashes.size(), 1u) << r.behaviour << ", seed " << seed;
        }
        for (const std::string& text : texts) {
            for (size_t i = 0; i < text.size(); ++i) {
                const bool may_change
                    = std::find(r.positions.begin(), r.positions.end(), i) != r.positions.end();
                if (!may_change) {
                    ASSERT_EQ(text[i], r.base[i]) << r.behaviour << " at " << i;
                }
            }
        }
    }
}

} // namespace
