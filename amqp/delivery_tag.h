#pragma once

#include <cstdint>

// Delivery tags restart at 1 on every channel, so a tag kept across a reconnection would name
// another message on the new channel. The tags handed out carry the number of the channel
// they came from in their top 16 bits; a tag of another generation is never sent back.
namespace delivery_tag {

constexpr int generation_shift = 48;
constexpr uint64_t channel_tag_mask = (uint64_t(1) << generation_shift) - 1;

constexpr uint64_t encode(uint16_t generation, uint64_t channel_tag)
{
    return (uint64_t(generation) << generation_shift) | (channel_tag & channel_tag_mask);
}

constexpr uint16_t generation(uint64_t tag)
{
    return uint16_t(tag >> generation_shift);
}

constexpr uint64_t channel_tag(uint64_t tag)
{
    return tag & channel_tag_mask;
}

// Generation 0 is never used, so a bare channel tag always reads as stale.
constexpr uint16_t next_generation(uint16_t current)
{
    return current == 0xFFFF ? uint16_t(1) : uint16_t(current + 1);
}

} // namespace delivery_tag
