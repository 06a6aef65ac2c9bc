#pragma once

#include <QByteArray>
#include <amqp.h>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

// Frames on their way to one plain-TCP connection, encoded byte for byte as librabbitmq
// encodes them, so that all frames of one event-loop pass leave with one write instead of one
// write per frame. What the socket does not take stays here, in order, until it is writable
// again: nothing ever waits for the broker to read.
//
// A large message body is not copied: the buffer keeps the message's own array and sends its
// frames' payloads from there, and lets go of it once they have left.
class rabbit_output_buffer
{
public:
    bool empty() const { return pending() == 0; }
    // Bytes added and not yet taken by the socket.
    size_t pending() const { return bytes_.size() - sent_ + spliced_; }

    // Each returns a librabbitmq status; on failure nothing was added.
    int add_ack(amqp_channel_t channel, uint64_t delivery_tag, bool multiple);
    int add_reject(amqp_channel_t channel, uint64_t delivery_tag, bool requeue);
    // basic.publish, neither mandatory nor immediate, with a content type as its one property;
    // the body is cut into frames of at most frame_max bytes.
    int add_publish(amqp_channel_t channel, const QByteArray& exchange,
        const QByteArray& routing_key, const QByteArray& content_type, QByteArray body,
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
    // A payload that goes out from its message's array, after the first `at` bytes of bytes_.
    struct splice
    {
        size_t at;
        QByteArray owner;
        size_t offset; // the part of owner not sent yet
        size_t size;
    };

    int append(const amqp_frame_t& frame, size_t argument_room);
    // Counts n bytes as sent, in the order they go out.
    void advance(size_t n);

    std::vector<uint8_t> bytes_; // every frame added but the splices; the first sent_ have left
    size_t sent_ = 0;
    std::deque<splice> splices_; // by `at`, never before sent_
    size_t spliced_ = 0; // their bytes not sent yet
};
