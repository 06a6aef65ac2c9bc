#include "app/keyed_hash.h"

#include <QRandomGenerator>
#include <QtEndian>

namespace {

struct secret
{
    quint64 k0;
    quint64 k1;
};

secret draw_secret()
{
    QRandomGenerator* source = QRandomGenerator::system();
    return secret { source->generate64(), source->generate64() };
}

// Drawn before main, so a look-up does not test for it first.
const secret process_secret = draw_secret();

inline quint64 rotl(quint64 x, int b)
{
    return (x << b) | (x >> (64 - b));
}

struct sip_state
{
    quint64 v0, v1, v2, v3;

    void round()
    {
        v0 += v1;
        v1 = rotl(v1, 13);
        v1 ^= v0;
        v0 = rotl(v0, 32);
        v2 += v3;
        v3 = rotl(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = rotl(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = rotl(v1, 17);
        v1 ^= v2;
        v2 = rotl(v2, 32);
    }
    void compress(quint64 m)
    {
        v3 ^= m;
        round();
        v0 ^= m;
    }
};

// Letters A-Z of eight bytes at once in lower case; other bytes, beyond ASCII included, stay.
inline quint64 lower_ascii(quint64 x)
{
    const quint64 low7 = x & 0x7f7f7f7f7f7f7f7fULL;
    const quint64 from_a = low7 + 0x3f3f3f3f3f3f3f3fULL; // top bit: the byte is 'A' or more
    const quint64 past_z = low7 + 0x2525252525252525ULL; // top bit: the byte is past 'Z'
    const quint64 upper = ~x & (from_a ^ past_z) & 0x8080808080808080ULL;
    return x | (upper >> 2);
}

inline quint64 same(quint64 x)
{
    return x;
}

template <quint64 (*Fold)(quint64)>
uint sip_hash(const void* data, std::size_t length) noexcept
{
    const secret& k = process_secret;
    sip_state s { k.k0 ^ 0x736f6d6570736575ULL, k.k1 ^ 0x646f72616e646f6dULL,
        k.k0 ^ 0x6c7967656e657261ULL, k.k1 ^ 0x7465646279746573ULL };
    const uchar* p = static_cast<const uchar*>(data);
    const uchar* const whole_end = p + (length & ~std::size_t(7));
    for (; p != whole_end; p += 8)
        s.compress(Fold(qFromLittleEndian<quint64>(p)));
    quint64 last = 0;
    switch (length & 7) {
    case 7:
        last |= quint64(p[6]) << 48;
        Q_FALLTHROUGH();
    case 6:
        last |= quint64(p[5]) << 40;
        Q_FALLTHROUGH();
    case 5:
        last |= quint64(p[4]) << 32;
        Q_FALLTHROUGH();
    case 4:
        last |= quint64(qFromLittleEndian<quint32>(p));
        break;
    case 3:
        last |= quint64(p[2]) << 16;
        Q_FALLTHROUGH();
    case 2:
        last |= quint64(p[1]) << 8;
        Q_FALLTHROUGH();
    case 1:
        last |= quint64(p[0]);
        break;
    default:
        break;
    }
    s.compress(Fold(last) | quint64(length) << 56);
    s.v2 ^= 0xff;
    s.round();
    s.round();
    s.round();
    const quint64 h = s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
    return uint(h ^ (h >> 32));
}

} // namespace

uint keyed_hash(const void* data, std::size_t size) noexcept
{
    return sip_hash<same>(data, size);
}

uint keyed_hash_folding_case(const char* data, std::size_t size) noexcept
{
    return sip_hash<lower_ascii>(data, size);
}
