#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>

// CRC-32 (reflected polynomial 0xEDB88320, register preset to all ones, final complement), the
// sum zlib computes. Query key lists name their keys by this sum alone, so a key is recognised
// with one table lookup per byte and one comparison per list entry, and no key texts are kept.
namespace crc32_detail {

constexpr std::array<std::uint32_t, 256> make_table()
{
    std::array<std::uint32_t, 256> table {};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1u) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
        table[i] = c;
    }
    return table;
}

inline constexpr std::array<std::uint32_t, 256> table = make_table();

} // namespace crc32_detail

constexpr std::uint32_t crc32_of(const char* bytes, std::size_t size)
{
    std::uint32_t reg = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i)
        reg = crc32_detail::table[(reg ^ static_cast<unsigned char>(bytes[i])) & 0xFFu]
            ^ (reg >> 8);
    return reg ^ 0xFFFFFFFFu;
}

template <std::size_t N>
constexpr std::uint32_t crc32_of(const char (&text)[N])
{
    return crc32_of(text, N - 1);
}

inline std::uint32_t crc32_of(const QString& key)
{
    const QByteArray bytes = key.toUtf8();
    return crc32_of(bytes.constData(), std::size_t(bytes.size()));
}

// A query key known by its CRC-32 value K.
template <std::uint32_t K>
struct strc_crc
{
    static constexpr std::uint32_t value = K;
};

static_assert(crc32_of("") == 0u);
static_assert(crc32_of("limit") == 2140596320u);
