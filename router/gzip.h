#pragma once

#include <QByteArray>

// One gzip member (header, raw DEFLATE stream, CRC-32 and length trailer) holding `data`,
// compressed at `level` as qCompress takes it.
QByteArray gzip_encode(const QByteArray& data, int level);

// The CRC-32 that closes a gzip member.
quint32 gzip_crc32(const QByteArray& data);
