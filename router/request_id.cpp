#include "router/request_id.h"

#include <QRandomGenerator>

namespace {

// Writes `count` bytes as lower-case hex digits, as QUuid's text form has them.
QChar* put_hex(QChar* out, const unsigned char* bytes, int count)
{
    static const char digits[] = "0123456789abcdef";
    for (int i = 0; i < count; ++i) {
        *out++ = QLatin1Char(digits[bytes[i] >> 4]);
        *out++ = QLatin1Char(digits[bytes[i] & 0x0f]);
    }
    return out;
}

} // namespace

QString make_request_id()
{
    quint32 random[4];
    QRandomGenerator::global()->fillRange(random);
    unsigned char bytes[16];
    for (int i = 0; i < 4; ++i) {
        bytes[4 * i] = uchar(random[i] >> 24);
        bytes[4 * i + 1] = uchar(random[i] >> 16);
        bytes[4 * i + 2] = uchar(random[i] >> 8);
        bytes[4 * i + 3] = uchar(random[i]);
    }
    bytes[6] = uchar((bytes[6] & 0x0fu) | 0x40u); // version 4
    bytes[8] = uchar((bytes[8] & 0x3fu) | 0x80u); // variant 10xx
    // The braced form "{8-4-4-4-12}" written in place: one allocation, no conversion.
    QString id(38, Qt::Uninitialized);
    QChar* out = id.data();
    *out++ = QLatin1Char('{');
    out = put_hex(out, bytes, 4);
    *out++ = QLatin1Char('-');
    out = put_hex(out, bytes + 4, 2);
    *out++ = QLatin1Char('-');
    out = put_hex(out, bytes + 6, 2);
    *out++ = QLatin1Char('-');
    out = put_hex(out, bytes + 8, 2);
    *out++ = QLatin1Char('-');
    out = put_hex(out, bytes + 10, 6);
    *out = QLatin1Char('}');
    return id;
}
