#include "amqp/rabbit_output_buffer.h"

#include <amqp_tcp_socket.h>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

amqp_bytes_t view(const QByteArray& bytes)
{
    return amqp_bytes_t { size_t(bytes.size()), const_cast<char*>(bytes.constData()) };
}

// A librabbitmq connection state whose socket is one end of a socket pair: what the library
// or a buffer writes to it can be read back from the other end. No handshake is needed for
// the calls used here.
class wire
{
public:
    explicit wire(int frame_max)
    {
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds_) != 0)
            return;
        // As librabbitmq leaves its own sockets: a full socket makes a write wait, not block.
        ::fcntl(fds_[0], F_SETFL, ::fcntl(fds_[0], F_GETFL) | O_NONBLOCK);
        state_ = amqp_new_connection();
        amqp_socket_t* socket = amqp_tcp_socket_new(state_);
        amqp_tcp_socket_set_sockfd(socket, fds_[0]);
        // A state is tuned only once it has read the broker's protocol header.
        char header[] = { 'A', 'M', 'Q', 'P', 0, 0, 9, 1 };
        amqp_frame_t frame;
        amqp_handle_input(state_, amqp_bytes_t { sizeof header, header }, &frame);
        amqp_tune_connection(state_, 0, frame_max, 0);
    }
    ~wire()
    {
        if (state_)
            amqp_destroy_connection(state_); // closes fds_[0]
        else if (fds_[0] >= 0)
            ::close(fds_[0]);
        if (fds_[1] >= 0)
            ::close(fds_[1]);
    }
    wire(const wire&) = delete;
    wire& operator=(const wire&) = delete;

    amqp_connection_state_t state() const { return state_; }
    int peer() const { return fds_[1]; }

    QByteArray read_all() const
    {
        QByteArray out;
        char chunk[65536];
        for (;;) {
            const ssize_t n = ::recv(fds_[1], chunk, sizeof chunk, MSG_DONTWAIT);
            if (n <= 0)
                break;
            out.append(chunk, int(n));
        }
        return out;
    }

private:
    int fds_[2] = { -1, -1 };
    amqp_connection_state_t state_ = nullptr;
};

// One frame-producing call, made once through the library and once through the buffer.
struct step
{
    std::function<int(amqp_connection_state_t)> library;
    std::function<int(rabbit_output_buffer&, int frame_max)> buffered;
};

step publish(const QByteArray& exchange, const QByteArray& key, const QByteArray& type,
    const QByteArray& body)
{
    return step {
        [=](amqp_connection_state_t state) {
            amqp_basic_properties_t properties {};
            properties._flags = AMQP_BASIC_CONTENT_TYPE_FLAG;
            properties.content_type = view(type);
            return amqp_basic_publish(
                state, 1, view(exchange), view(key), 0, 0, &properties, view(body));
        },
        [=](rabbit_output_buffer& out, int frame_max) {
            return out.add_publish(1, exchange, key, type, body, frame_max);
        },
    };
}

step ack(uint64_t tag, bool multiple)
{
    return step {
        [=](amqp_connection_state_t state) { return amqp_basic_ack(state, 1, tag, multiple); },
        [=](rabbit_output_buffer& out, int) { return out.add_ack(1, tag, multiple); },
    };
}

step reject(uint64_t tag, bool requeue)
{
    return step {
        [=](amqp_connection_state_t state) { return amqp_basic_reject(state, 1, tag, requeue); },
        [=](rabbit_output_buffer& out, int) { return out.add_reject(1, tag, requeue); },
    };
}

step declare(const QByteArray& queue)
{
    return step {
        [=](amqp_connection_state_t state) {
            amqp_queue_declare_t method {};
            method.queue = view(queue);
            method.auto_delete = 1;
            method.arguments = amqp_empty_table;
            return amqp_send_method(state, 1, AMQP_QUEUE_DECLARE_METHOD, &method);
        },
        [=](rabbit_output_buffer& out, int frame_max) {
            amqp_queue_declare_t method {};
            method.queue = view(queue);
            method.auto_delete = 1;
            method.arguments = amqp_empty_table;
            return out.add_method(1, AMQP_QUEUE_DECLARE_METHOD, &method, frame_max);
        },
    };
}

step heartbeat()
{
    return step {
        [](amqp_connection_state_t state) {
            amqp_frame_t frame {};
            frame.frame_type = AMQP_FRAME_HEARTBEAT;
            return amqp_send_frame(state, &frame);
        },
        [](rabbit_output_buffer& out, int) { return out.add_heartbeat(); },
    };
}

// Socket buffers so small that a write leaves most of a large pass behind.
void narrow(const wire& w)
{
    int small = 4096;
    ::setsockopt(amqp_get_sockfd(w.state()), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    ::setsockopt(w.peer(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
}

// Sends what `out` holds while the peer reads it; what the peer reads from now on.
QByteArray read_while_sending(rabbit_output_buffer& out, const wire& w)
{
    QByteArray got = w.read_all();
    for (int rounds = 0; rounds < 100000 && !out.empty(); ++rounds) {
        out.send_to(amqp_get_sockfd(w.state()));
        got += w.read_all();
    }
    return got + w.read_all();
}

bool send_all(rabbit_output_buffer& out, amqp_connection_state_t state)
{
    return out.send_to(amqp_get_sockfd(state)) == rabbit_output_buffer::send_result::all_sent;
}

TEST(RabbitOutputBuffer, WritesTheBytesTheLibraryWrites)
{
    const QByteArray command
        = R"({"cmd_id":"{0f8fad5b-d9cb-469f-a165-70867728950e}","data":{},"msg_type":"version",)"
          R"("sender":"gw.replies"})";
    const QByteArray large(10000, 'x'); // more than two frames of 4096 bytes
    struct row
    {
        const char* behaviour;
        int frame_max;
        std::vector<step> steps;
    };
    const row rows[] = {
        { "one command", 131072, { publish("nelqa.api", "cmd.in.iec104", "text/plain", command) } },
        { "one ack", 131072, { ack(7, false) } },
        { "one reject without requeue", 131072, { reject(9, false) } },
        { "flags of ack and reject", 131072, { ack(1, true), reject(2, true) } },
        { "empty body: no body frame", 131072, { publish("ex", "k", "text/plain", "") } },
        { "body cut at the frame size", 4096, { publish("ex", "k", "application/json", large) } },
        { "body of exactly one frame", 4096,
            { publish("ex", "k", "text/plain", QByteArray(4096 - 8, 'y')) } },
        { "a pass of replies, acks and commands", 131072,
            { ack(1, false), publish("ex", "reply.to", "text/plain", command), ack(2, false),
                reject(3, false), publish("", "default.exchange", "text/plain", "{}"),
                ack(uint64_t(1) << 40, false) } },
        { "long names and a key of 255 bytes", 131072,
            { publish(QByteArray(255, 'e'), QByteArray(255, 'k'), "text/plain", command) } },
        { "a set-up method between publishes", 131072,
            { publish("ex", "k", "text/plain", command), declare("gw.queue"), ack(4, false) } },
        { "a heartbeat", 131072, { heartbeat(), ack(5, false) } },
        { "a body sent from its own array", 16384,
            { publish("ex", "k", "text/plain", QByteArray(40000, 'z')) } },
        { "its last piece too short to be kept apart", 16384,
            { publish("ex", "k", "text/plain", QByteArray(2 * (16384 - 8) + 100, 'w')) } },
        { "bodies kept apart between other frames", 131072,
            { ack(1, false), publish("ex", "k", "text/plain", QByteArray(20000, 'a')),
                ack(2, false), publish("ex", "k", "text/plain", command),
                publish("ex", "k", "text/plain", QByteArray(5000, 'b')), reject(3, false) } },
    };
    for (const row& r : rows) {
        wire expected(r.frame_max);
        wire got(r.frame_max);
        ASSERT_TRUE(expected.state() && got.state()) << r.behaviour;
        rabbit_output_buffer out;
        for (const step& s : r.steps) {
            ASSERT_EQ(s.library(expected.state()), AMQP_STATUS_OK) << r.behaviour;
            ASSERT_EQ(s.buffered(out, r.frame_max), AMQP_STATUS_OK) << r.behaviour;
        }
        EXPECT_FALSE(out.empty()) << r.behaviour;
        ASSERT_TRUE(send_all(out, got.state())) << r.behaviour;
        EXPECT_TRUE(out.empty()) << r.behaviour;
        const QByteArray want = expected.read_all();
        EXPECT_FALSE(want.isEmpty()) << r.behaviour;
        EXPECT_EQ(got.read_all().toHex(), want.toHex()) << r.behaviour;
    }
}

TEST(RabbitOutputBuffer, RefusedFrameLeavesWhatWasHeldIntact)
{
    wire expected(131072);
    wire got(131072);
    ASSERT_TRUE(expected.state() && got.state());
    rabbit_output_buffer out;
    const QByteArray body = "first";
    ASSERT_EQ(publish("ex", "k", "text/plain", body).library(expected.state()), AMQP_STATUS_OK);
    ASSERT_EQ(out.add_publish(1, "ex", "k", "text/plain", body, 131072), AMQP_STATUS_OK);

    struct row
    {
        const char* behaviour;
        QByteArray exchange;
        QByteArray content_type;
    };
    const row rows[] = {
        { "exchange longer than a short string", QByteArray(256, 'e'), "text/plain" },
        { "content type longer than a short string", "ex", QByteArray(256, 't') },
    };
    for (const row& r : rows)
        EXPECT_NE(
            out.add_publish(1, r.exchange, "k", r.content_type, "second", 131072), AMQP_STATUS_OK)
            << r.behaviour;

    ASSERT_TRUE(send_all(out, got.state()));
    EXPECT_EQ(got.read_all().toHex(), expected.read_all().toHex());
}

TEST(RabbitOutputBuffer, WhatAFullSocketDoesNotTakeLeavesLaterInOrder)
{
    wire w(131072);
    ASSERT_TRUE(w.state());
    const int fd = amqp_get_sockfd(w.state());
    narrow(w);
    rabbit_output_buffer out;
    rabbit_output_buffer whole;
    // Over a megabyte of small messages among large ones: the bytes that have left are
    // dropped from the front while large bodies still wait behind them.
    for (int i = 0; i < 440; ++i) {
        const QByteArray body(i % 11 == 10 ? 64 * 1024 : 3000, char('a' + i % 26));
        ASSERT_EQ(out.add_publish(1, "ex", "k", "text/plain", body, 131072), AMQP_STATUS_OK);
        ASSERT_EQ(whole.add_publish(1, "ex", "k", "text/plain", body, 131072), AMQP_STATUS_OK);
    }
    const size_t total = out.pending();

    // Nobody reads the peer: the write returns at once with the rest held.
    bool moved = false;
    EXPECT_EQ(out.send_to(fd, &moved), rabbit_output_buffer::send_result::socket_full);
    EXPECT_TRUE(moved);
    EXPECT_GT(out.pending(), 0u);
    EXPECT_LT(out.pending(), total);
    EXPECT_EQ(out.send_to(fd, &moved), rabbit_output_buffer::send_result::socket_full);
    EXPECT_FALSE(moved);

    // The peer reads: the rest leaves, and the bytes are those of one write of everything.
    const QByteArray got = read_while_sending(out, w);
    EXPECT_TRUE(out.empty());
    wire reference(131072);
    QByteArray want;
    const int reference_fd = amqp_get_sockfd(reference.state());
    while (whole.send_to(reference_fd) != rabbit_output_buffer::send_result::all_sent)
        want += reference.read_all();
    want += reference.read_all();
    EXPECT_EQ(size_t(got.size()), total);
    EXPECT_TRUE(got == want);
}

// A large body goes out from the message's own array, which the buffer lets go of once the
// last of it has left.
TEST(RabbitOutputBuffer, KeepsALargeBodyUntilItHasLeft)
{
    wire w(131072);
    ASSERT_TRUE(w.state());
    narrow(w);
    rabbit_output_buffer out;
    const QByteArray body(300000, 'q');
    ASSERT_EQ(out.add_publish(1, "ex", "k", "text/plain", body, 131072), AMQP_STATUS_OK);
    EXPECT_FALSE(body.isDetached()); // held, not copied

    EXPECT_EQ(
        out.send_to(amqp_get_sockfd(w.state())), rabbit_output_buffer::send_result::socket_full);
    EXPECT_FALSE(body.isDetached());
    const QByteArray got = read_while_sending(out, w);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(body.isDetached());
    EXPECT_GT(got.indexOf(body.left(131072 - 8)), 0);
}

} // namespace
