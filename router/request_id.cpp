#include "router/request_id.h"

#include <QRandomGenerator>
#include <QUuid>

QString make_request_id()
{
    quint32 random[4];
    QRandomGenerator::global()->fillRange(random);
    const quint32 mid = random[1];
    const quint32 tail1 = random[2];
    const quint32 tail2 = random[3];
    // Version 4 in the high nibble of the third group, variant 10xx in the fourth.
    const QUuid id(random[0], ushort(mid >> 16), ushort((mid & 0x0fffu) | 0x4000u),
        uchar(((tail1 >> 24) & 0x3fu) | 0x80u), uchar(tail1 >> 16), uchar(tail1 >> 8), uchar(tail1),
        uchar(tail2 >> 24), uchar(tail2 >> 16), uchar(tail2 >> 8), uchar(tail2));
    return id.toString();
}
