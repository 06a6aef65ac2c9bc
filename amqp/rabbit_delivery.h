#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

// One message delivered to a consumer, copied out of the library's frames.
struct rabbit_delivery
{
    QByteArray payload;
    QString routing_key;
    QString exchange;
    QString content_type;
    // Carries the generation of the channel it came from (see delivery_tag.h).
    uint64_t delivery_tag = 0;
    bool redelivered = false;
};
