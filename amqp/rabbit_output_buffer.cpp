#include "amqp/rabbit_output_buffer.h"

#include <algorithm>
#include <amqp_framing.h>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

namespace {

// Frame header: type, channel, payload size; the payload is followed by the frame-end octet.
constexpr size_t header_size = 7;
constexpr size_t footer_size = 1;
// Room for the arguments of the methods and properties written here: short strings of at
// most 255 bytes each, a few flags and numbers.
constexpr size_t argument_room = 1024;

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

amqp_bytes_t view(const QByteArray& bytes)
{
    return amqp_bytes_t { size_t(bytes.size()), const_cast<char*>(bytes.constData()) };
}

} // namespace

int rabbit_output_buffer::append(const amqp_frame_t& frame)
{
    size_t room = 0;
    switch (frame.frame_type) {
    case AMQP_FRAME_METHOD:
        room = 4 + argument_room;
        break;
    case AMQP_FRAME_HEADER:
        room = 12 + argument_room;
        break;
    case AMQP_FRAME_BODY:
        room = frame.payload.body_fragment.len;
        break;
    default:
        return AMQP_STATUS_INVALID_PARAMETER;
    }
    const size_t start = bytes_.size();
    bytes_.resize(start + header_size + room + footer_size);
    uint8_t* out = bytes_.data() + start;
    uint8_t* payload = out + header_size;
    out[0] = frame.frame_type;
    put16(out + 1, frame.channel);
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
        std::memcpy(payload, frame.payload.body_fragment.bytes, room);
        size = room;
        break;
    }
    if (encoded < 0) {
        bytes_.resize(start);
        return encoded;
    }
    put32(out + 3, uint32_t(size));
    payload[size] = AMQP_FRAME_END;
    bytes_.resize(start + header_size + size + footer_size);
    tail_start_ = int(start);
    tail_ = frame;
    return AMQP_STATUS_OK;
}

int rabbit_output_buffer::add_ack(amqp_channel_t channel, uint64_t delivery_tag, bool multiple)
{
    ack_ = amqp_basic_ack_t { delivery_tag, amqp_boolean_t(multiple) };
    return append_method(channel, AMQP_BASIC_ACK_METHOD, &ack_);
}

int rabbit_output_buffer::add_reject(amqp_channel_t channel, uint64_t delivery_tag, bool requeue)
{
    reject_ = amqp_basic_reject_t { delivery_tag, amqp_boolean_t(requeue) };
    return append_method(channel, AMQP_BASIC_REJECT_METHOD, &reject_);
}

// The decoded method must outlive the call: the last frame of a pass is kept for the library.
int rabbit_output_buffer::append_method(
    amqp_channel_t channel, amqp_method_number_t id, void* decoded)
{
    amqp_frame_t frame {};
    frame.frame_type = AMQP_FRAME_METHOD;
    frame.channel = channel;
    frame.payload.method.id = id;
    frame.payload.method.decoded = decoded;
    return append(frame);
}

int rabbit_output_buffer::add_publish(amqp_channel_t channel, const QByteArray& exchange,
    const QByteArray& routing_key, const QByteArray& content_type, const QByteArray& body,
    int frame_max)
{
    // On a failure the frames of this message already added are taken back, and the earlier
    // last frame gets back what it points to.
    const size_t start = bytes_.size();
    const int tail_start = tail_start_;
    const amqp_frame_t tail = tail_;
    const QByteArray content_type_before = content_type_;
    const QByteArray body_before = body_;
    const amqp_basic_properties_t properties_before = properties_;
    auto undo = [&](int status) {
        bytes_.resize(start);
        tail_start_ = tail_start;
        tail_ = tail;
        content_type_ = content_type_before;
        body_ = body_before;
        properties_ = properties_before;
        return status;
    };

    amqp_basic_publish_t publish {};
    publish.exchange = view(exchange);
    publish.routing_key = view(routing_key);
    amqp_frame_t frame {};
    frame.frame_type = AMQP_FRAME_METHOD;
    frame.channel = channel;
    frame.payload.method.id = AMQP_BASIC_PUBLISH_METHOD;
    frame.payload.method.decoded = &publish;
    int status = append(frame);
    if (status != AMQP_STATUS_OK)
        return undo(status);

    // The earlier tail may point to these; it is encoded already and no longer needed.
    content_type_ = content_type;
    body_ = body;
    properties_ = amqp_basic_properties_t {};
    properties_._flags = AMQP_BASIC_CONTENT_TYPE_FLAG;
    properties_.content_type = view(content_type_);
    frame = amqp_frame_t {};
    frame.frame_type = AMQP_FRAME_HEADER;
    frame.channel = channel;
    frame.payload.properties.class_id = AMQP_BASIC_CLASS;
    frame.payload.properties.body_size = uint64_t(body_.size());
    frame.payload.properties.decoded = &properties_;
    status = append(frame);
    if (status != AMQP_STATUS_OK)
        return undo(status);

    const size_t fragment_max = size_t(frame_max) - (header_size + footer_size);
    for (size_t offset = 0; offset < size_t(body_.size());) {
        frame = amqp_frame_t {};
        frame.frame_type = AMQP_FRAME_BODY;
        frame.channel = channel;
        frame.payload.body_fragment.bytes = const_cast<char*>(body_.constData()) + offset;
        frame.payload.body_fragment.len = std::min(fragment_max, size_t(body_.size()) - offset);
        offset += frame.payload.body_fragment.len;
        status = append(frame);
        if (status != AMQP_STATUS_OK)
            return undo(status);
    }
    return AMQP_STATUS_OK;
}

int rabbit_output_buffer::send_head(int fd, int write_timeout_ms)
{
    const uint8_t* at = bytes_.data();
    size_t left = size_t(tail_start_);
    while (left > 0) {
        // The last frame follows at once through the library, which sends it without this
        // flag, so everything leaves together.
        const ssize_t sent = ::send(fd, at, left, MSG_NOSIGNAL | MSG_MORE);
        if (sent >= 0) {
            at += sent;
            left -= size_t(sent);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return AMQP_STATUS_SOCKET_ERROR;
        pollfd p { fd, POLLOUT, 0 };
        int ready;
        do {
            ready = ::poll(&p, 1, write_timeout_ms);
        } while (ready < 0 && errno == EINTR);
        if (ready == 0)
            return AMQP_STATUS_TIMEOUT;
        if (ready < 0)
            return AMQP_STATUS_SOCKET_ERROR;
        // An error or hang-up shows in the next send.
    }
    return AMQP_STATUS_OK;
}

int rabbit_output_buffer::write_to(amqp_connection_state_t state, int write_timeout_ms)
{
    if (empty())
        return AMQP_STATUS_OK;
    int status = send_head(amqp_get_sockfd(state), write_timeout_ms);
    if (status == AMQP_STATUS_OK)
        status = amqp_send_frame(state, &tail_);
    clear();
    return status;
}

void rabbit_output_buffer::clear()
{
    bytes_.clear(); // keeps its capacity for the next pass
    tail_start_ = -1;
    tail_ = amqp_frame_t {};
}
