#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <chrono>

class QSocketNotifier;

namespace qhttp {

// Told of a stream's events directly, in place of its signals: a stream made for one request
// then costs no signal connections to make and to undo.
class stream_user
{
public:
    virtual void stream_connected() = 0;
    virtual void stream_readable() = 0;
    virtual void stream_failed() = 0;
    virtual void stream_drained() = 0;

protected:
    ~stream_user() = default;
};

// One TCP connection on a plain non-blocking descriptor, driven by socket notifiers of the
// event loop: an accepted one of the server or an outgoing one of a forward. The HTTP layer
// needs no more than this. A QTcpSocket costs a socket engine, buffers its data is copied
// through, a size query before every read, and per outgoing connection a proxy lookup and
// more system calls, which together cost more than serving a request.
//
// Output is sent when the event loop next turns, together with that of every other stream
// written to in the meantime: under load, sends in one burst wake their receivers fewer times
// than sends spread between the requests' own work, and a woken receiver costs the sender more
// than the request's own work does.
class tcp_stream : public QObject
{
    Q_OBJECT
public:
    explicit tcp_stream(QObject* parent = nullptr);
    // Closes the connection; nothing is signalled from here on.
    ~tcp_stream() override;
    tcp_stream(const tcp_stream&) = delete;
    tcp_stream& operator=(const tcp_stream&) = delete;

    // Starts connecting; connected() or failed() follows, never from within this call.
    void connect_to(const QHostAddress& address, quint16 port);
    // Takes over an accepted connection; false (and the descriptor closed) when it is unusable.
    bool adopt(qintptr descriptor);
    bool is_connected() const { return state_ == state::connected; }
    // While set, connected(), ready_read(), failed() and drained() go to the user instead.
    void set_user(stream_user* user) { user_ = user; }
    QHostAddress peer_address() const { return peer_address_; }
    quint16 peer_port() const { return peer_port_; }

    // What read() returns when nothing more will come: the peer closed its side in order, or
    // the connection broke (a reset, say), which cuts off whatever was under way.
    static constexpr qint64 input_ended = -1;
    static constexpr qint64 input_broken = -2;
    // Reads up to `size` bytes: the count read, 0 when nothing is there now, or one of the two
    // above. Until it is called again after ready_read(), no further ready_read() comes.
    qint64 read(char* data, qint64 size);
    // Queues the bytes for sending; a failure to send is reported by failed().
    void write(const QByteArray& bytes);
    qint64 bytes_to_write() const { return qint64(out_.size()) - out_pos_; }
    // Emits drained() once, as soon as no more than `bytes` are left to send (at once when
    // that is already so); a later call replaces the mark.
    void notify_drained(qint64 bytes);
    // Closes once the queued output has been sent; closed() follows. From here on input is
    // read and dropped, not told: a peer that is still sending would otherwise have its
    // connection reset, and the last output lost with it, by the close. Once the output has
    // gone the sending side is shut, and the descriptor is closed when the peer closes its side,
    // has sent nothing for `quiet_ms`, or `total_ms` after the shut.
    void close_after_writing(int quiet_ms, int total_ms);
    // Closes at once, dropping queued output, without signalling.
    void abort();
    // Told of every descriptor a stream closes, just before, once its notifiers have stopped
    // watching it: an event dispatcher that would otherwise stop watching the closed
    // descriptor in vain. Set once, before any stream is made.
    static void set_closing_hook(void (*hook)(int fd)) { closing_hook_ = hook; }
    // As abort(), with a reset instead of an orderly close: neither side keeps the connection
    // in TIME_WAIT.
    void reset();
    // Descriptors the streams of the process hold now.
    static int open_descriptors() { return open_descriptors_; }

signals:
    void connected();
    // Input, or its end, can be read.
    void ready_read();
    // The connection could not be made, or sending failed; the stream is closed.
    void failed();
    // Closed after close_after_writing() sent the last output.
    void closed();
    // The output has shrunk to the mark given to notify_drained().
    void drained();

private:
    enum class state { idle, connecting, connected, closed };

    void watch_input();
    void on_writable();
    void on_readable();
    void schedule_send();
    static void send_burst_now();
    void send_now();
    bool send_pending();
    void fail();
    void report_failure_later();
    // The user's function when there is a user, else the signal.
    void tell(void (stream_user::*told)(), void (tcp_stream::*signal)());
    void close_descriptor();
    static void close_watched(int fd);
    void drop_input();
    void start_lingering();
    void end_lingering();
    void timerEvent(QTimerEvent* event) override;

    static void (*closing_hook_)(int fd);
    static int open_descriptors_;

    stream_user* user_ = nullptr;
    int fd_ = -1;
    state state_ = state::idle;
    QSocketNotifier* read_notifier_ = nullptr;
    QSocketNotifier* write_notifier_ = nullptr;
    QByteArray out_;
    int out_pos_ = 0;
    bool send_scheduled_ = false;
    bool close_when_sent_ = false;
    // The end of a connection that closes: set by close_after_writing().
    struct lingering
    {
        int quiet_ms = 0;
        int total_ms = 0;
        int timer = 0; // runs once the sending side is shut
        std::chrono::steady_clock::time_point shut;
        std::chrono::steady_clock::time_point last_input;
        bool input_ended = false;
    } linger_;
    bool read_since_notice_ = true; // read() was called since the last ready_read()
    qint64 drain_mark_ = -1; // -1: nobody waits for the output to drain
    QHostAddress peer_address_;
    quint16 peer_port_ = 0;
};

} // namespace qhttp
