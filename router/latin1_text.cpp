#include "router/latin1_text.h"

#include <QString>
#include <algorithm>

QByteArray latin1_of_utf8(const QByteArray& utf8)
{
    const bool ascii = std::all_of(
        utf8.cbegin(), utf8.cend(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return ascii ? utf8 : QString::fromUtf8(utf8).toLatin1();
}
