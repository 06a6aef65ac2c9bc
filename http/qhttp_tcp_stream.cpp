#include "http/qhttp_tcp_stream.h"

#include "app/heap_trim.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimerEvent>
#include <QVector>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qhttp {

namespace {

// The address in the form connect() takes; false for an address that is neither IPv4 nor IPv6.
bool to_sockaddr(const QHostAddress& address, quint16 port, sockaddr_storage& out, socklen_t& size)
{
    std::memset(&out, 0, sizeof out);
    bool is_v4 = false;
    const quint32 v4 = address.toIPv4Address(&is_v4);
    if (is_v4) {
        auto* in = reinterpret_cast<sockaddr_in*>(&out);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        in->sin_addr.s_addr = htonl(v4);
        size = sizeof(sockaddr_in);
        return true;
    }
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return false;
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&out);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(port);
    const Q_IPV6ADDR bytes = address.toIPv6Address();
    std::memcpy(&in6->sin6_addr, &bytes, sizeof bytes);
    // A link-local address names its interface by number or by name.
    const QString scope = address.scopeId();
    bool numeric = false;
    in6->sin6_scope_id = scope.toUInt(&numeric);
    if (!numeric && !scope.isEmpty())
        in6->sin6_scope_id = ::if_nametoindex(scope.toLatin1().constData());
    size = sizeof(sockaddr_in6);
    return true;
}

// The streams with output for the next burst; one posted call per turn of the event loop sends
// them all.
struct send_burst
{
    QVector<QPointer<tcp_stream>> streams;
    bool posted = false;
};
thread_local send_burst burst;

// A notifier that calls its stream itself: no signal connection to make and to undo for each
// notifier, and no two signals emitted for each event.
class stream_notifier final : public QSocketNotifier
{
public:
    stream_notifier(int fd, Type type, tcp_stream* stream, void (tcp_stream::*handler)())
        : QSocketNotifier(fd, type, stream)
        , stream_(stream)
        , handler_(handler)
    { }

protected:
    bool event(QEvent* event) override
    {
        if (event->type() != QEvent::SockAct)
            return QSocketNotifier::event(event);
        (stream_->*handler_)();
        return true;
    }

private:
    tcp_stream* stream_;
    void (tcp_stream::*handler_)();
};

// Where the input of a closing connection goes: nowhere.
char dropped_input[16 * 1024];

int ms_until(std::chrono::steady_clock::time_point when, std::chrono::steady_clock::time_point now)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - now).count();
    return int(qMax<qint64>(left, 0));
}

void set_no_delay(int fd)
{
    // Requests and answers go out whole: no waiting for more to fill a segment.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

} // namespace

void (*tcp_stream::closing_hook_)(int fd) = nullptr;
int tcp_stream::open_descriptors_ = 0;

void tcp_stream::close_watched(int fd)
{
    if (closing_hook_)
        closing_hook_(fd);
    ::close(fd);
    --open_descriptors_;
}

tcp_stream::tcp_stream(QObject* parent)
    : QObject(parent)
{ }

tcp_stream::~tcp_stream()
{
    // The notifiers are children and go with this object; they only have to stop watching
    // before the descriptor is closed.
    if (read_notifier_)
        read_notifier_->setEnabled(false);
    if (write_notifier_)
        write_notifier_->setEnabled(false);
    if (fd_ >= 0)
        close_watched(fd_);
}

void tcp_stream::connect_to(const QHostAddress& address, quint16 port)
{
    if (state_ != state::idle)
        return;
    sockaddr_storage target;
    socklen_t target_size = 0;
    if (!to_sockaddr(address, port, target, target_size)) {
        report_failure_later();
        return;
    }
    fd_ = ::socket(target.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        report_failure_later();
        return;
    }
    ++open_descriptors_;
    set_no_delay(fd_);

    // An interrupted connect goes on in the background like a pending one.
    const int result = ::connect(fd_, reinterpret_cast<const sockaddr*>(&target), target_size);
    if (result != 0 && errno != EINPROGRESS && errno != EINTR) {
        report_failure_later();
        return;
    }
    // Even a connect that completed at once is reported from the event loop, as a pending
    // one is: the caller never sees a signal from inside this call.
    state_ = state::connecting;
    write_notifier_
        = new stream_notifier(fd_, QSocketNotifier::Write, this, &tcp_stream::on_writable);
}

bool tcp_stream::adopt(qintptr descriptor)
{
    if (state_ != state::idle)
        return false;
    fd_ = int(descriptor);
    ++open_descriptors_;
    sockaddr_storage peer;
    socklen_t peer_size = sizeof peer;
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0 || ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) < 0
        || ::getpeername(fd_, reinterpret_cast<sockaddr*>(&peer), &peer_size) != 0) {
        close_descriptor();
        return false;
    }
    peer_address_.setAddress(reinterpret_cast<const sockaddr*>(&peer));
    if (peer.ss_family == AF_INET)
        peer_port_ = ntohs(reinterpret_cast<const sockaddr_in*>(&peer)->sin_port);
    else if (peer.ss_family == AF_INET6)
        peer_port_ = ntohs(reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_port);
    set_no_delay(fd_);
    state_ = state::connected;
    watch_input();
    return true;
}

void tcp_stream::watch_input()
{
    read_notifier_
        = new stream_notifier(fd_, QSocketNotifier::Read, this, &tcp_stream::on_readable);
}

qint64 tcp_stream::read(char* data, qint64 size)
{
    if (state_ != state::connected)
        return input_ended;
    ssize_t got;
    do {
        got = ::read(fd_, data, size_t(size));
    } while (got < 0 && errno == EINTR);
    if (got > 0 || (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))) {
        // Taken up again: tell about whatever comes next.
        read_since_notice_ = true;
        if (!read_notifier_->isEnabled() && !close_when_sent_)
            read_notifier_->setEnabled(true);
        return qMax<qint64>(got, 0);
    }
    return got == 0 ? input_ended : input_broken;
}

void tcp_stream::write(const QByteArray& bytes)
{
    if (state_ != state::connected || bytes.isEmpty())
        return;
    if (out_pos_ >= out_.size()) {
        out_ = bytes;
        out_pos_ = 0;
    } else {
        // What was sent already is dropped only once it is most of the buffer, so a long queue
        // is not moved for every answer added to it.
        if (out_pos_ >= out_.size() / 2) {
            out_.remove(0, out_pos_);
            out_pos_ = 0;
        }
        out_.append(bytes);
    }
    schedule_send();
}

void tcp_stream::notify_drained(qint64 bytes)
{
    drain_mark_ = bytes;
    if (bytes_to_write() <= drain_mark_) {
        drain_mark_ = -1;
        QMetaObject::invokeMethod(
            this, [this] { tell(&stream_user::stream_drained, &tcp_stream::drained); },
            Qt::QueuedConnection);
    }
}

void tcp_stream::close_after_writing(int quiet_ms, int total_ms)
{
    if (state_ != state::connected)
        return;
    close_when_sent_ = true;
    linger_.quiet_ms = quiet_ms;
    linger_.total_ms = total_ms;
    // What still comes is read and dropped: it would not be parsed, and left unread it makes
    // the close a reset that throws away the output the peer has not read yet.
    if (read_notifier_ && !read_notifier_->isEnabled())
        read_notifier_->setEnabled(true);
    schedule_send();
}

void tcp_stream::abort()
{
    close_descriptor();
}

void tcp_stream::reset()
{
    if (fd_ >= 0) {
        const linger at_once { 1, 0 };
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &at_once, sizeof at_once);
    }
    close_descriptor();
}

// Output goes out at the start of the event loop's next turn, in one burst with the output of
// the other streams: a posted call runs before the loop waits for events again.
void tcp_stream::schedule_send()
{
    if (send_scheduled_)
        return;
    send_scheduled_ = true;
    burst.streams.append(this);
    if (burst.posted)
        return;
    burst.posted = QMetaObject::invokeMethod(
        QCoreApplication::instance(), &tcp_stream::send_burst_now, Qt::QueuedConnection);
    if (!burst.posted)
        send_burst_now(); // no event loop to wait for
}

void tcp_stream::send_burst_now()
{
    burst.posted = false;
    QVector<QPointer<tcp_stream>> streams;
    streams.swap(burst.streams);
    for (const QPointer<tcp_stream>& stream : streams) {
        if (stream)
            stream->send_now();
    }
}

void tcp_stream::send_now()
{
    send_scheduled_ = false;
    if (state_ != state::connected)
        return;
    if (!send_pending()) {
        fail();
        return;
    }
    if (close_when_sent_ && bytes_to_write() == 0) {
        start_lingering();
        return;
    }
    if (drain_mark_ >= 0 && bytes_to_write() <= drain_mark_) {
        drain_mark_ = -1;
        tell(&stream_user::stream_drained, &tcp_stream::drained);
    }
}

void tcp_stream::on_writable()
{
    if (state_ == state::connecting) {
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
            error = errno;
        if (error == EINPROGRESS || error == EALREADY)
            return;
        if (error != 0) {
            fail();
            return;
        }
        state_ = state::connected;
        write_notifier_->setEnabled(false);
        watch_input();
        tell(&stream_user::stream_connected, &tcp_stream::connected);
        return;
    }
    if (state_ == state::connected)
        send_now();
}

void tcp_stream::on_readable()
{
    if (close_when_sent_) {
        drop_input();
        return;
    }
    // Input the reader left unread since the last notice (while it is busy in a nested event
    // loop, say) would spin the loop: quiet until it reads again. A reader that keeps reading
    // costs no switching of the notifier.
    if (!read_since_notice_) {
        read_notifier_->setEnabled(false);
        return;
    }
    read_since_notice_ = false;
    tell(&stream_user::stream_readable, &tcp_stream::ready_read);
}

// Sends what is waiting; the write notifier carries on with what the kernel did not take.
bool tcp_stream::send_pending()
{
    while (out_pos_ < out_.size()) {
        const ssize_t sent = ::send(
            fd_, out_.constData() + out_pos_, size_t(out_.size() - out_pos_), MSG_NOSIGNAL);
        if (sent > 0) {
            out_pos_ += int(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!write_notifier_) {
                write_notifier_ = new stream_notifier(
                    fd_, QSocketNotifier::Write, this, &tcp_stream::on_writable);
            }
            write_notifier_->setEnabled(true);
            return true;
        }
        return false;
    }
    // The last of a large answer: the trim that followed its handling came while the bytes
    // still waited here for the peer.
    heap_trim::after_work(out_.size());
    out_ = QByteArray();
    out_pos_ = 0;
    if (write_notifier_)
        write_notifier_->setEnabled(false);
    return true;
}

void tcp_stream::fail()
{
    close_descriptor();
    tell(&stream_user::stream_failed, &tcp_stream::failed);
}

void tcp_stream::report_failure_later()
{
    close_descriptor();
    QMetaObject::invokeMethod(
        this, [this] { tell(&stream_user::stream_failed, &tcp_stream::failed); },
        Qt::QueuedConnection);
}

void tcp_stream::tell(void (stream_user::*told)(), void (tcp_stream::*signal)())
{
    if (user_)
        (user_->*told)();
    else
        (this->*signal)(); // emits
}

void tcp_stream::close_descriptor()
{
    // The notifiers stop watching before the descriptor is closed. They stay, idle, until the
    // stream goes: this may run inside one of their own signals, and a deferred deletion of
    // each would cost more than the notifiers do.
    for (QSocketNotifier* notifier : { read_notifier_, write_notifier_ }) {
        if (notifier)
            notifier->setEnabled(false);
    }
    read_notifier_ = nullptr;
    write_notifier_ = nullptr;
    if (fd_ >= 0)
        close_watched(fd_);
    fd_ = -1;
    state_ = state::closed;
    out_ = QByteArray();
    out_pos_ = 0;
    close_when_sent_ = false;
    drain_mark_ = -1;
    if (linger_.timer != 0)
        killTimer(linger_.timer);
    linger_ = lingering();
}

// The closing peer's input, up to its end (or as much as is there).
void tcp_stream::drop_input()
{
    for (;;) {
        const ssize_t got = ::read(fd_, dropped_input, sizeof dropped_input);
        if (got > 0) {
            linger_.last_input = std::chrono::steady_clock::now();
            if (size_t(got) < sizeof dropped_input)
                return;
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        break;
    }
    // The end of the input, or a reset: an end stays readable, so it is not watched further.
    linger_.input_ended = true;
    read_notifier_->setEnabled(false);
    if (linger_.timer != 0)
        end_lingering();
}

// All output has gone: the peer is told so, and the connection stays open for what it may
// still send until it has read the end.
void tcp_stream::start_lingering()
{
    if (linger_.input_ended || linger_.quiet_ms <= 0 || linger_.total_ms <= 0
        || ::shutdown(fd_, SHUT_WR) != 0) {
        end_lingering();
        return;
    }
    linger_.shut = linger_.last_input = std::chrono::steady_clock::now();
    linger_.timer = startTimer(qMin(linger_.quiet_ms, linger_.total_ms), Qt::PreciseTimer);
}

void tcp_stream::end_lingering()
{
    close_descriptor();
    emit closed();
}

void tcp_stream::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != linger_.timer) {
        QObject::timerEvent(event);
        return;
    }
    killTimer(linger_.timer);
    const auto now = std::chrono::steady_clock::now();
    const int quiet_left
        = ms_until(linger_.last_input + std::chrono::milliseconds(linger_.quiet_ms), now);
    const int total_left
        = ms_until(linger_.shut + std::chrono::milliseconds(linger_.total_ms), now);
    const int left = qMin(quiet_left, total_left);
    if (left == 0) {
        linger_.timer = 0;
        end_lingering();
        return;
    }
    linger_.timer = startTimer(left, Qt::PreciseTimer);
}

} // namespace qhttp
