#include "amqp/rabbit_output_buffer.h"

#include <algorithm>
#include <amqp_framing.h>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/uio.h>

namespace {

// Frame header: type, channel, payload size; the payload is followed by the frame-end octet.
constexpr size_t header_size = 7;
constexpr size_t footer_size = 1;
// Room for the arguments of acks, rejects and publishes and their properties: short strings
// of at most 255 bytes each, a few flags and numbers.
constexpr size_t argument_room = 1024;
// A socket's unsent bytes are moved to the front once this many have left.
constexpr size_t compact_after = 1 << 20;
// Room kept for the next pass once everything has left; a burst's room beyond it goes back.
constexpr size_t kept_capacity = 1 << 20;
// Pieces handed to the socket in one call.
constexpr int max_parts = 64;

void put16(uint8_t* at, uint16_t v)
{
    at[0] = uint8_t(v >> 8);
    at[1] = uint8_t(v);
}

void put32(uint8_t* at, uint32_t v)
{
    put16(at, uint16_t(v >> 16));
    put16(at + 2, uint16_t(v));
}

void put64(uint8_t* at, uint64_t v)
{
    put32(at, uint32_t(v >> 32));
    put32(at + 4, uint32_t(v));
}

void put_frame_header(uint8_t* at, uint8_t type, amqp_channel_t channel, size_t payload_size)
{
    at[0] = type;
    put16(at + 1, channel);
    put32(at + 3, uint32_t(payload_size));
}

// Body payloads of at least this many bytes are sent from the message's own array; a smaller
// one costs less to copy than to keep apart.
constexpr size_t splice_min = 4096;

amqp_bytes_t view(const QByteArray& bytes)
{
    return amqp_bytes_t { size_t(bytes.size()), const_cast<char*>(bytes.constData()) };
}

} // namespace

int rabbit_output_buffer::append(const amqp_frame_t& frame, size_t room)
{
    switch (frame.frame_type) {
    case AMQP_FRAME_METHOD:
        room += 4;
        break;
    case AMQP_FRAME_HEADER:
        room += 12;
        break;
    case AMQP_FRAME_BODY:
        room = frame.payload.body_fragment.len;
        break;
    case AMQP_FRAME_HEARTBEAT:
        room = 0;
        break;
    default:
        return AMQP_STATUS_INVALID_PARAMETER;
    }
    const size_t start = bytes_.size();
    bytes_.resize(start + header_size + room + footer_size);
    uint8_t* out = bytes_.data() + start;
    uint8_t* payload = out + header_size;
    int encoded = 0;
    size_t size = 0;
    switch (frame.frame_type) {
    case AMQP_FRAME_METHOD:
        put32(payload, frame.payload.method.id);
        encoded = amqp_encode_method(frame.payload.method.id, frame.payload.method.decoded,
            amqp_bytes_t { room - 4, payload + 4 });
        size = 4 + size_t(encoded);
        break;
    case AMQP_FRAME_HEADER:
        put16(payload, frame.payload.properties.class_id);
        put16(payload + 2, 0); // weight
        put64(payload + 4, frame.payload.properties.body_size);
        encoded = amqp_encode_properties(frame.payload.properties.class_id,
            frame.payload.properties.decoded, amqp_bytes_t { room - 12, payload + 12 });
        size = 12 + size_t(encoded);
        break;
    default:
        if (room > 0)
            std::memcpy(payload, frame.payload.body_fragment.bytes, room);
        size = room;
        break;
    }
    if (encoded < 0) {
        bytes_.resize(start);
        return encoded;
    }
    put_frame_header(out, frame.frame_type, frame.channel, size);
    payload[size] = AMQP_FRAME_END;
    bytes_.resize(start + header_size + size + footer_size);
    return AMQP_STATUS_OK;
}

static amqp_frame_t method_frame(amqp_channel_t channel, amqp_method_number_t id, void* decoded)
{
    amqp_frame_t frame {};
    frame.frame_type = AMQP_FRAME_METHOD;
    frame.channel = channel;
    frame.payload.method.id = id;
    frame.payload.method.decoded = decoded;
    return frame;
}

int rabbit_output_buffer::add_ack(amqp_channel_t channel, uint64_t delivery_tag, bool multiple)
{
    amqp_basic_ack_t ack { delivery_tag, amqp_boolean_t(multiple) };
    return append(method_frame(channel, AMQP_BASIC_ACK_METHOD, &ack), argument_room);
}

int rabbit_output_buffer::add_reject(amqp_channel_t channel, uint64_t delivery_tag, bool requeue)
{
    amqp_basic_reject_t reject { delivery_tag, amqp_boolean_t(requeue) };
    return append(method_frame(channel, AMQP_BASIC_REJECT_METHOD, &reject), argument_room);
}

int rabbit_output_buffer::add_method(
    amqp_channel_t channel, amqp_method_number_t id, void* decoded, int frame_max)
{
    const size_t room = size_t(frame_max) - (header_size + 4 + footer_size);
    return append(method_frame(channel, id, decoded), room);
}

int rabbit_output_buffer::add_heartbeat()
{
    amqp_frame_t frame {};
    frame.frame_type = AMQP_FRAME_HEARTBEAT;
    return append(frame, 0);
}

int rabbit_output_buffer::add_publish(amqp_channel_t channel, const QByteArray& exchange,
    const QByteArray& routing_key, const QByteArray& content_type, QByteArray body, int frame_max)
{
    // On a failure the frames of this message already added are taken back.
    const size_t start = bytes_.size();
    auto undo = [&](int status) {
        bytes_.resize(start);
        return status;
    };

    amqp_basic_publish_t publish {};
    publish.exchange = view(exchange);
    publish.routing_key = view(routing_key);
    int status = append(method_frame(channel, AMQP_BASIC_PUBLISH_METHOD, &publish), argument_room);
    if (status != AMQP_STATUS_OK)
        return undo(status);

    amqp_basic_properties_t properties {};
    properties._flags = AMQP_BASIC_CONTENT_TYPE_FLAG;
    properties.content_type = view(content_type);
    amqp_frame_t frame {};
    frame.frame_type = AMQP_FRAME_HEADER;
    frame.channel = channel;
    frame.payload.properties.class_id = AMQP_BASIC_CLASS;
    frame.payload.properties.body_size = uint64_t(body.size());
    frame.payload.properties.decoded = &properties;
    status = append(frame, argument_room);
    if (status != AMQP_STATUS_OK)
        return undo(status);

    // Nothing fails from here on: the frames of the body are only bytes.
    const size_t fragment_max = size_t(frame_max) - (header_size + footer_size);
    for (size_t offset = 0; offset < size_t(body.size());) {
        const size_t size = std::min(fragment_max, size_t(body.size()) - offset);
        if (size < splice_min) {
            frame = amqp_frame_t {};
            frame.frame_type = AMQP_FRAME_BODY;
            frame.channel = channel;
            frame.payload.body_fragment.bytes = const_cast<char*>(body.constData()) + offset;
            frame.payload.body_fragment.len = size;
            append(frame, 0);
        } else {
            const size_t at = bytes_.size();
            bytes_.resize(at + header_size);
            put_frame_header(&bytes_[at], AMQP_FRAME_BODY, channel, size);
            splices_.push_back(splice { bytes_.size(), body, offset, size });
            spliced_ += size;
            bytes_.push_back(AMQP_FRAME_END);
        }
        offset += size;
    }
    return AMQP_STATUS_OK;
}

void rabbit_output_buffer::advance(size_t n)
{
    while (n > 0) {
        const size_t upto = splices_.empty() ? bytes_.size() : splices_.front().at;
        if (sent_ < upto) {
            const size_t taken = std::min(n, upto - sent_);
            sent_ += taken;
            n -= taken;
            continue;
        }
        splice& next = splices_.front();
        const size_t taken = std::min(n, next.size);
        next.offset += taken;
        next.size -= taken;
        spliced_ -= taken;
        n -= taken;
        if (next.size == 0)
            splices_.pop_front(); // the last piece of a message lets go of its array
    }
}

rabbit_output_buffer::send_result rabbit_output_buffer::send_to(int fd, bool* moved)
{
    bool any = false;
    send_result result = send_result::all_sent;
    while (!empty()) {
        iovec parts[max_parts];
        int count = 0;
        size_t from = sent_;
        bool whole = true; // every splice is among the parts
        for (const splice& next : splices_) {
            if (count + 2 > max_parts) {
                whole = false;
                break;
            }
            if (next.at > from)
                parts[count++] = iovec { bytes_.data() + from, next.at - from };
            parts[count++]
                = iovec { const_cast<char*>(next.owner.constData()) + next.offset, next.size };
            from = next.at;
        }
        if (whole && from < bytes_.size() && count < max_parts)
            parts[count++] = iovec { bytes_.data() + from, bytes_.size() - from };
        msghdr message {};
        message.msg_iov = parts;
        message.msg_iovlen = size_t(count);
        const ssize_t n = ::sendmsg(fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            advance(size_t(n));
            any = any || n > 0;
            continue;
        }
        if (errno == EINTR)
            continue;
        result = errno == EAGAIN || errno == EWOULDBLOCK ? send_result::socket_full
                                                         : send_result::failed;
        break;
    }
    if (moved)
        *moved = any;
    if (empty())
        clear();
    else if (sent_ >= compact_after && sent_ * 2 >= bytes_.size()) {
        bytes_.erase(bytes_.begin(), bytes_.begin() + std::ptrdiff_t(sent_));
        for (splice& next : splices_)
            next.at -= sent_;
        sent_ = 0;
    }
    return result;
}

void rabbit_output_buffer::clear()
{
    if (bytes_.capacity() > kept_capacity)
        std::vector<uint8_t>().swap(bytes_);
    else
        bytes_.clear(); // keeps its capacity for the next pass
    sent_ = 0;
    splices_.clear();
    spliced_ = 0;
}
