#include "router/gzip.h"

#include "qt_print.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace {

const QByteArray gzip_header("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x0b", 10);

quint32 le32(const QByteArray& bytes, int at)
{
    quint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes.at(at + i));
    return value;
}

// Decodes one gzip member with zlib, which checks the CRC and length trailer itself.
bool gunzip(const QByteArray& member, QByteArray& out)
{
    z_stream zs {};
    if (inflateInit2(&zs, 16 + MAX_WBITS) != Z_OK)
        return false;
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(member.constData()));
    zs.avail_in = static_cast<uInt>(member.size());
    char buffer[16384];
    int rc = Z_OK;
    while (rc == Z_OK) {
        zs.next_out = reinterpret_cast<Bytef*>(buffer);
        zs.avail_out = sizeof buffer;
        rc = inflate(&zs, Z_NO_FLUSH);
        out.append(buffer, static_cast<int>(sizeof buffer - zs.avail_out));
    }
    const bool whole = rc == Z_STREAM_END && zs.avail_in == 0;
    inflateEnd(&zs);
    return whole;
}

QByteArray mixed_data(int size)
{
    QByteArray data;
    data.reserve(size);
    quint32 state = 12345;
    while (data.size() < size) {
        state = state * 1103515245u + 12345u;
        // Runs of text mixed with noise, so the compressor uses both literals and matches.
        if ((state >> 28) < 6)
            data.append("{\"time_saved\":1700000000,\"data\":\"00ff\"},");
        else
            data.append(static_cast<char>(state >> 16));
    }
    data.truncate(size);
    return data;
}

struct GzipCase
{
    const char* name;
    QByteArray data;
    int level;
};

class GzipEncode : public ::testing::TestWithParam<GzipCase>
{ };

TEST_P(GzipEncode, WritesAMemberStandardDecodersRestore)
{
    const GzipCase& c = GetParam();
    const QByteArray member = gzip_encode(c.data, c.level);

    ASSERT_GE(member.size(), 18 + 2);
    EXPECT_EQ(member.left(10), gzip_header);
    const quint32 zlib_crc = static_cast<quint32>(crc32(
        0, reinterpret_cast<const Bytef*>(c.data.constData()), static_cast<uInt>(c.data.size())));
    EXPECT_EQ(le32(member, member.size() - 8), zlib_crc);
    EXPECT_EQ(le32(member, member.size() - 4), static_cast<quint32>(c.data.size()));

    QByteArray restored;
    EXPECT_TRUE(gunzip(member, restored));
    EXPECT_EQ(restored, c.data);
}

INSTANTIATE_TEST_SUITE_P(Bodies, GzipEncode,
    ::testing::Values(GzipCase { "empty", QByteArray(), 9 },
        GzipCase { "one_byte", QByteArray("x"), 9 },
        GzipCase { "small_json", QByteArray("{\"What\":\"handler not found\"}"), 9 },
        GzipCase { "one_mebibyte_level_9", mixed_data(1 << 20), 9 },
        GzipCase { "binary_level_0", mixed_data(5000), 0 }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GzipEncode, LevelChangesOnlyTheStream)
{
    const QByteArray data = mixed_data(100000);
    const QByteArray fast = gzip_encode(data, 1);
    const QByteArray best = gzip_encode(data, 9);
    EXPECT_EQ(fast.left(10), best.left(10));
    EXPECT_EQ(fast.right(8), best.right(8));
    EXPECT_NE(fast, best);
}

} // namespace
