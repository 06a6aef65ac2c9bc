#include "router/gzip.h"

#include <array>

namespace {

constexpr std::array<quint32, 256> make_crc_table()
{
    std::array<quint32, 256> table {};
    for (quint32 n = 0; n < 256; ++n) {
        quint32 c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr std::array<quint32, 256> crc_table = make_crc_table();

void append_le32(QByteArray& out, quint32 value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.append(static_cast<char>((value >> shift) & 0xFFu));
}

// qCompress frames its output as a 4-byte length, a 2-byte zlib header, the DEFLATE stream
// and a 4-byte Adler-32.
constexpr int qcompress_head = 6;
constexpr int qcompress_tail = 4;

} // namespace

quint32 gzip_crc32(const QByteArray& data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (char ch : data)
        crc = crc_table[(crc ^ static_cast<unsigned char>(ch)) & 0xFFu] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

QByteArray gzip_encode(const QByteArray& data, int level)
{
    static const char header[10]
        = { '\x1f', '\x8b', '\x08', '\x00', '\x00', '\x00', '\x00', '\x00', '\x00', '\x0b' };

    const QByteArray framed = qCompress(data, level);
    QByteArray deflate;
    if (framed.size() > qcompress_head + qcompress_tail)
        deflate = framed.mid(qcompress_head, framed.size() - qcompress_head - qcompress_tail);
    if (deflate.isEmpty()) {
        // qCompress gives only its length prefix for empty input; an empty final fixed-Huffman
        // block keeps the member decodable.
        deflate = QByteArray("\x03\x00", 2);
    }

    QByteArray out;
    out.reserve(static_cast<int>(sizeof header) + deflate.size() + 8);
    out.append(header, static_cast<int>(sizeof header));
    out.append(deflate);
    append_le32(out, gzip_crc32(data));
    append_le32(out, static_cast<quint32>(data.size()));
    return out;
}
