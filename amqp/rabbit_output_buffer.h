#pragma once

#include <QByteArray>
#include <amqp.h>
#include <cstdint>
#include <vector>

// Frames on their way to one plain-TCP connection, encoded byte for byte as librabbitmq
// encodes them, so that all frames of one event-loop pass leave with one write instead of one
// write per frame. The last frame is also kept decoded: it goes out through the library, which
// so learns that the connection was just used and, as with its own writes, sends a heartbeat
// only after the negotiated idle time.
class rabbit_output_buffer
{
public:
    bool empty() const { return tail_start_ < 0; }

    // Each returns a librabbitmq status; on failure nothing was added.
    int add_ack(amqp_channel_t channel, uint64_t delivery_tag, bool multiple);
    int add_reject(amqp_channel_t channel, uint64_t delivery_tag, bool requeue);
    // basic.publish, neither mandatory nor immediate, with a content type as its one property;
    // the body is cut into frames of at most frame_max bytes.
    int add_publish(amqp_channel_t channel, const QByteArray& exchange,
        const QByteArray& routing_key, const QByteArray& content_type, const QByteArray& body,
        int frame_max);

    // Writes everything to the connection's socket and empties the buffer, also on failure.
    // When the socket takes nothing for write_timeout_ms, AMQP_STATUS_TIMEOUT; the connection
    // must then be dropped, since a frame may have been cut.
    int write_to(amqp_connection_state_t state, int write_timeout_ms);
    void clear();

private:
    int append(const amqp_frame_t& frame);
    int append_method(amqp_channel_t channel, amqp_method_number_t id, void* decoded);
    int send_head(int fd, int write_timeout_ms);

    std::vector<uint8_t> bytes_; // every frame, the last one included
    int tail_start_ = -1; // where the last frame begins in bytes_
    amqp_frame_t tail_ {};
    // What the decoded last frame points to.
    amqp_basic_ack_t ack_ {};
    amqp_basic_reject_t reject_ {};
    amqp_basic_properties_t properties_ {};
    QByteArray content_type_;
    QByteArray body_;
};
