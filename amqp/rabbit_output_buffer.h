#pragma once

#include <QByteArray>
#include <amqp.h>
#include <cstddef>
#include <cstdint>
#include <vector>

// Frames on their way to one plain-TCP connection, encoded byte for byte as librabbitmq
// encodes them, so that all frames of one event-loop pass leave with one write instead of one
// write per frame. What the socket does not take stays here, in order, until it is writable
// again: nothing ever waits for the broker to read.
class rabbit_output_buffer
{
public:
    bool empty() const { return sent_ == bytes_.size(); }
    // Bytes added and not yet taken by the socket.
    size_t pending() const { return bytes_.size() - sent_; }

    // Each returns a librabbitmq status; on failure nothing was added.
    int add_ack(amqp_channel_t channel, uint64_t delivery_tag, bool multiple);
    int add_reject(amqp_channel_t channel, uint64_t delivery_tag, bool requeue);
    // basic.publish, neither mandatory nor immediate, with a content type as its one property;
    // the body is cut into frames of at most frame_max bytes.
    int add_publish(amqp_channel_t channel, const QByteArray& exchange,
        const QByteArray& routing_key, const QByteArray& content_type, const QByteArray& body,
        int frame_max);
    // Any other method, whose arguments fit in frame_max bytes.
    int add_method(amqp_channel_t channel, amqp_method_number_t id, void* decoded, int frame_max);
    int add_heartbeat();

    enum class send_result { all_sent, socket_full, failed };
    // Writes what the socket takes now, without waiting; moved tells whether any byte left.
    // After failed the connection must be dropped: a frame may have been cut.
    send_result send_to(int fd, bool* moved = nullptr);
    void clear();

private:
    int append(const amqp_frame_t& frame, size_t argument_room);

    std::vector<uint8_t> bytes_; // every frame added; the first sent_ bytes have left
    size_t sent_ = 0;
};
