#include "http/qhttp_header_key.h"

#include "app/keyed_hash.h"

namespace qhttp {

uint header_name_hash(const char* data, int size) noexcept
{
    return keyed_hash_folding_case(data, std::size_t(size));
}

} // namespace qhttp
