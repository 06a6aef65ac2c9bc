#include "amqp/command_id.h"

#include <cerrno>
#include <cstring>
#include <sys/random.h>

namespace {

constexpr int id_size = 16;
constexpr int ids_per_block = 256;

// Random bytes for the next ids, one block per thread.
struct random_block
{
    unsigned char bytes[id_size * ids_per_block];
    int used = sizeof bytes;

    bool take(unsigned char* out)
    {
        if (used == int(sizeof bytes)) {
            ssize_t got;
            do {
                got = ::getrandom(bytes, sizeof bytes, 0);
            } while (got < 0 && errno == EINTR);
            if (got != ssize_t(sizeof bytes))
                return false;
            used = 0;
        }
        std::memcpy(out, bytes + used, id_size);
        used += id_size;
        return true;
    }
};

} // namespace

QUuid new_command_id()
{
    static thread_local random_block block;
    unsigned char random[id_size];
    if (!block.take(random))
        return QUuid::createUuid();
    QUuid id;
    std::memcpy(&id.data1, random, 4);
    std::memcpy(&id.data2, random + 4, 2);
    std::memcpy(&id.data3, random + 6, 2);
    std::memcpy(id.data4, random + 8, 8);
    id.data4[0] = (id.data4[0] & 0x3F) | 0x80; // variant DCE
    id.data3 = (id.data3 & 0x0FFF) | 0x4000; // version 4, random
    return id;
}
