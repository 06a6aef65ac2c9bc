#pragma once

// What the benchmark clients share: texts of one length made to share one CRC-32C, so one hash
// under any seed of Qt's hash of their bytes (QByteArray) or of their UTF-16 units (QString).
#include <cstddef>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

// CRC-32C of the bytes, from 0 and without the final inversion: Qt's hash where the processor
// has the instruction, whose seed adds only a term that depends on the length.
inline uint32_t crc32c(const std::string& bytes)
{
    uint32_t crc = 0;
    for (const unsigned char c : bytes) {
        crc ^= c;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0x82F63B78u & (0u - (crc & 1u)));
    }
    return crc;
}

// The bytes Qt hashes for an ASCII text: the text itself (unit 1), or its UTF-16 units, each
// character followed by a zero byte (unit 2).
inline std::string hashed_bytes(const std::string& text, int unit)
{
    if (unit == 1)
        return text;
    std::string bytes(text.size() * size_t(unit), '\0');
    for (size_t i = 0; i < text.size(); ++i)
        bytes[i * size_t(unit)] = text[i];
    return bytes;
}

// `count` distinct texts that differ from `base` only at `positions` (at most 21, each holding
// an "a" in `base`) and share its CRC-32C. Each of those letters becomes one of a c e g i k m o
// (three free bits); the choices that leave the CRC as it is are the null space of a 32 x 3n
// matrix over GF(2), since CRC is linear for one length. The same arguments give the same texts.
inline std::vector<std::string> crc32c_family(
    const std::string& base, const std::vector<size_t>& positions, int unit, size_t count)
{
    const uint32_t base_crc = crc32c(hashed_bytes(base, unit));
    const int bits = int(positions.size()) * 3;
    struct row
    {
        uint32_t crc;
        uint64_t choices;
    };
    std::vector<row> pivots(32, row { 0, 0 });
    std::vector<uint64_t> free_choices;
    for (int k = 0; k < bits; ++k) {
        std::string flipped(base.size(), '\0');
        flipped[positions[size_t(k / 3)]] = char(2 << (k % 3));
        // The flip's own CRC is what it changes.
        row r { crc32c(hashed_bytes(flipped, unit)), uint64_t(1) << k };
        for (int b = 31; b >= 0 && r.crc; --b) {
            if (!(r.crc >> b & 1u))
                continue;
            if (!pivots[size_t(b)].choices) {
                pivots[size_t(b)] = r;
                r.crc = 0;
                r.choices = 0;
                break;
            }
            r.crc ^= pivots[size_t(b)].crc;
            r.choices ^= pivots[size_t(b)].choices;
        }
        if (r.choices)
            free_choices.push_back(r.choices);
    }
    std::vector<std::string> out;
    std::set<std::string> seen;
    std::mt19937_64 random(1);
    while (out.size() < count) {
        uint64_t choices = 0;
        for (const uint64_t c : free_choices)
            if (random() & 1u)
                choices ^= c;
        std::string text = base;
        for (int k = 0; k < bits; ++k)
            if (choices >> k & 1u)
                text[positions[size_t(k / 3)]] ^= char(2 << (k % 3));
        if (crc32c(hashed_bytes(text, unit)) == base_crc && seen.insert(text).second)
            out.push_back(text);
    }
    return out;
}
