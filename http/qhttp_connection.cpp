#include "http/qhttp_connection.h"

#include "http/qhttp_path_check.h"
#include "http/qhttp_tcp_stream.h"
#include "http/qhttp_wire.h"

#include "app/heap_trim.h"

#include <QHostAddress>
#include <climits>
#include <cstring>

namespace qhttp {
namespace server {

namespace {

// A connection takes in at most this much input it has not parsed yet, so a client that
// pipelines while its previous request waits for an answer is pushed back by TCP instead of
// filling memory.
constexpr int max_unparsed_bytes = 256 * 1024;
constexpr int input_reserve_bytes = 16 * 1024;
constexpr int read_chunk_bytes = 16 * 1024;
constexpr int target_reserve_bytes = 256;

QString peer_text(const QHostAddress& address)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(v4).toString() : address.toString();
}

QHttpConnection* connection_of(http_parser* p)
{
    return static_cast<QHttpConnection*>(p->data);
}

void lower_ascii(QByteArray& bytes)
{
    char* data = bytes.data();
    for (int i = 0, n = bytes.size(); i < n; ++i)
        if (data[i] >= 'A' && data[i] <= 'Z')
            data[i] = char(data[i] + ('a' - 'A'));
}

} // namespace

QHttpConnection::user_call::user_call(QHttpConnection* c)
    : c_(c)
{
    ++c->user_depth_;
}

QHttpConnection::user_call::~user_call()
{
    QHttpConnection* c = c_.data();
    if (!c || --c->user_depth_ > 0)
        return;
    // Nothing of the request is on the stack any more, so it goes now: deferred, every
    // request a client pipelines would live until the event loop next turns.
    if (QHttpRequest* done = c->release_.data()) {
        c->release_.clear();
        delete done;
    }
    if (c->gone_)
        c->deleteLater();
}

QHttpConnection::QHttpConnection(tcp_stream* socket, QHttpServer* server)
    : QObject(server)
    , socket_(socket)
    , server_(server)
    , idle_timer_(new QTimer(this))
{
    socket_->setParent(this);
    remote_address_ = peer_text(socket_->peer_address());
    remote_port_ = socket_->peer_port();

    http_parser_init(&parser_, HTTP_REQUEST);
    parser_.data = this;
    in_.reserve(input_reserve_bytes);
    target_.reserve(target_reserve_bytes); // reserved room stays when it is emptied

    connect(socket_, &tcp_stream::ready_read, this, [this] {
        readable_ = true;
        pump();
    });
    connect(socket_, &tcp_stream::failed, this, &QHttpConnection::teardown);
    connect(socket_, &tcp_stream::closed, this, &QHttpConnection::teardown);
    connect(socket_, &tcp_stream::drained, this, [this] {
        output_full_ = false;
        schedule_pump();
    });

    idle_timer_->setSingleShot(true);
    idle_timer_->setTimerType(Qt::CoarseTimer);
    connect(idle_timer_, &QTimer::timeout, this, &QHttpConnection::on_idle_timer);
    clock_.start();
    const int idle = server_->limits().idle_timeout_ms;
    arm_timer(0, idle > 0 ? idle : -1);
}

QHttpConnection::~QHttpConnection()
{
    // The socket dies with us; it must not call back into a half-destroyed connection.
    socket_->disconnect(this);
    if (response_)
        response_->connection_.clear();
    // A request still held goes with its connection (one whose release was deferred is a
    // child by now and goes with the other children).
    delete release_.data();
    delete request_.data();
}

const http_parser_settings& QHttpConnection::parser_settings()
{
    static const http_parser_settings settings = [] {
        http_parser_settings s;
        http_parser_settings_init(&s);
        s.on_message_begin = &QHttpConnection::on_message_begin;
        s.on_url = &QHttpConnection::on_url;
        s.on_header_field = &QHttpConnection::on_header_field;
        s.on_header_value = &QHttpConnection::on_header_value;
        s.on_headers_complete = &QHttpConnection::on_headers_complete;
        s.on_body = &QHttpConnection::on_body;
        s.on_message_complete = &QHttpConnection::on_message_complete;
        return s;
    }();
    return settings;
}

// The parser calls back only into these; they record what they see and pause the parser at
// the two points where user code has to run, so user code never runs inside the parser.

int QHttpConnection::on_message_begin(http_parser* p)
{
    QHttpConnection* c = connection_of(p);
    c->stage_ = stage::head;
    c->start_head_clock();
    c->target_.resize(0); // keeps its room for the next target
    c->field_.clear();
    c->value_.clear();
    c->in_value_ = false;
    c->headers_.clear();
    c->body_bytes_ = 0;
    c->body_too_large_ = false;
    return 0;
}

int QHttpConnection::on_url(http_parser* p, const char* at, size_t length)
{
    connection_of(p)->target_.append(at, int(length));
    return 0;
}

int QHttpConnection::on_header_field(http_parser* p, const char* at, size_t length)
{
    QHttpConnection* c = connection_of(p);
    if (c->in_value_)
        c->commit_header();
    // The parser lets a blank pass in a name; such a request is refused as malformed, since
    // peers that trim it would read a different header than we do.
    if (std::memchr(at, ' ', length))
        return 1;
    c->field_.append(at, int(length));
    return 0;
}

int QHttpConnection::on_header_value(http_parser* p, const char* at, size_t length)
{
    QHttpConnection* c = connection_of(p);
    c->value_.append(at, int(length));
    c->in_value_ = true;
    return 0;
}

int QHttpConnection::on_headers_complete(http_parser* p)
{
    QHttpConnection* c = connection_of(p);
    if (c->in_value_ || !c->field_.isEmpty())
        c->commit_header();
    c->head_started_ = -1;
    c->event_ = event::head_done;
    http_parser_pause(p, 1);
    return 0;
}

int QHttpConnection::on_body(http_parser* p, const char* at, size_t length)
{
    QHttpConnection* c = connection_of(p);
    c->body_bytes_ += qint64(length);
    if (c->body_bytes_ > c->server_->limits().max_body_bytes) {
        c->body_too_large_ = true;
        return 1;
    }
    QHttpRequest* request = c->request_.data();
    if (!request || !request->collect_)
        return 0;
    int take = int(length);
    if (request->collect_limit_ >= 0)
        take = qMin(take, request->collect_limit_ - request->body_.size());
    if (take > 0)
        request->body_.append(at, take);
    return 0;
}

int QHttpConnection::on_message_complete(http_parser* p)
{
    QHttpConnection* c = connection_of(p);
    c->event_ = event::message_done;
    http_parser_pause(p, 1);
    return 0;
}

void QHttpConnection::commit_header()
{
    lower_ascii(field_);
    int end = value_.size();
    while (end > 0 && (value_.at(end - 1) == ' ' || value_.at(end - 1) == '\t'))
        --end;
    value_.truncate(end);
    // One search for both cases: a name seen before grows the table no further.
    const int known = headers_.size();
    QByteArray& value = headers_[field_];
    if (headers_.size() == known)
        value.append(", ").append(value_);
    else
        value = value_;
    field_ = header_key();
    value_ = QByteArray();
    in_value_ = false;
}

// Input goes straight into the parse buffer, and the socket is read only after it said it has
// something, so an idle socket costs no read.
bool QHttpConnection::read_socket()
{
    if (!readable_ || gone_ || closing_ || in_.size() - in_pos_ >= max_unparsed_bytes)
        return false;
    const int old = in_.size();
    in_.resize(old + read_chunk_bytes);
    const qint64 got = socket_->read(in_.data() + old, read_chunk_bytes);
    in_.resize(old + int(qMax<qint64>(got, 0)));
    // A short read took all there was; ready_read tells when more comes.
    if (got < read_chunk_bytes)
        readable_ = false;
    if (got == tcp_stream::input_ended && socket_->bytes_to_write() > 0) {
        // A client that only closed its sending side may still be reading: the answers it was
        // given go out whole before the connection closes. A request still waiting for its
        // answer has lost its client all the same.
        detach_request();
        close_after_answer();
        return false;
    }
    if (got < 0) {
        teardown(); // the client closed or reset the connection
        return false;
    }
    if (got == 0)
        return false;
    last_activity_ = clock_.elapsed();
    return true;
}

// Takes in what has arrived without parsing it, while a request waits for its answer or user
// code runs: a client that leaves is noticed at once.
void QHttpConnection::take_input()
{
    while (read_socket()) { }
}

void QHttpConnection::schedule_pump()
{
    if (pump_scheduled_)
        return;
    pump_scheduled_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            pump_scheduled_ = false;
            pump();
        },
        Qt::QueuedConnection);
}

void QHttpConnection::pump()
{
    // Re-entered from a nested event loop inside user code: the outer pump carries on once
    // that code has returned.
    if (user_depth_ > 0) {
        take_input();
        return;
    }
    while (!gone_ && !closing_) {
        if (stage_ == stage::complete) {
            if (response_) {
                take_input(); // the next request waits until this one has been answered
                return;
            }
            stage_ = stage::idle;
        }
        if (stage_ == stage::idle && output_full())
            return;
        if (in_pos_ >= in_.size()) {
            if (in_.capacity() > 4 * input_reserve_bytes) {
                in_ = QByteArray();
                in_.reserve(input_reserve_bytes);
            }
            in_.resize(0);
            in_pos_ = 0;
            if (!read_socket())
                return;
        }
        if (HTTP_PARSER_ERRNO(&parser_) == HPE_PAUSED)
            http_parser_pause(&parser_, 0);
        event_ = event::none;
        const size_t parsed = http_parser_execute(
            &parser_, &parser_settings(), in_.constData() + in_pos_, size_t(in_.size() - in_pos_));
        in_pos_ += int(parsed);
        // Blank lines between requests start the next head's clock: they could come forever.
        if (stage_ == stage::idle && parsed > 0)
            start_head_clock();
        const http_errno error = HTTP_PARSER_ERRNO(&parser_);
        if (error != HPE_OK && error != HPE_PAUSED) {
            fail(error);
            return;
        }
        if (event_ == event::head_done)
            dispatch_head();
        else if (event_ == event::message_done)
            dispatch_end();
        else if (parsed == 0) {
            fail(HPE_UNKNOWN); // no progress: whatever follows is not HTTP we serve
            return;
        }
    }
}

// A client that does not take its answers is not read further: its answers would pile up in
// memory for as long as it sends. Reading goes on once most of them have left.
bool QHttpConnection::output_full()
{
    if (output_full_)
        return true;
    if (socket_->bytes_to_write() <= server_->limits().output_high_bytes)
        return false;
    output_full_ = true;
    socket_->notify_drained(server_->limits().output_low_bytes);
    return true;
}

void QHttpConnection::dispatch_head()
{
    if (parser_.http_major != 1 || parser_.http_minor > 1) {
        answer_error(505, QByteArrayLiteral("{\"What\":\"HTTP version not supported\"}"));
        return;
    }
    keep_alive_ = http_should_keep_alive(&parser_) != 0;
    http10_ = parser_.http_minor == 0;
    // A body in a coding other than chunking alone cannot be framed, nor anything after it.
    if (parser_.uses_transfer_encoding) {
        const auto coding = headers_.constFind(QByteArrayLiteral("transfer-encoding"));
        if (coding == headers_.constEnd()
            || coding.value().compare("chunked", Qt::CaseInsensitive) != 0) {
            answer_error(501, QByteArrayLiteral("{\"What\":\"Not implemented\"}"));
            return;
        }
    }

    const quint64 length = parser_.content_length;
    if (length != ULLONG_MAX && length > quint64(server_->limits().max_body_bytes)) {
        answer_error(413, QByteArrayLiteral("{\"What\":\"Request body too large\"}"));
        return;
    }
    // Refused before any handler sees it: no prefix check holds for a path that climbs out.
    if (is_unsafe_path(target_)) {
        answer_error(400, QByteArrayLiteral("{\"What\":\"Bad request\"}"));
        return;
    }
    stage_ = stage::body;

    auto* request = new QHttpRequest(this);
    request->method_ = THttpMethod(parser_.method);
    request->url_ = wire::request_url(target_);
    request->headers_.swap(headers_);
    request->remote_address_ = remote_address_;
    request->remote_port_ = remote_port_;
    QHttpResponse* response = &request->response_;
    response->head_ = parser_.method == HTTP_HEAD;
    request_ = request;
    response_ = response;

    const bool body_follows = (parser_.flags & F_CHUNKED) || (length != ULLONG_MAX && length > 0);
    if (body_follows && !http10_) {
        const auto expect = request->headers_.constFind(QByteArrayLiteral("expect"));
        if (expect != request->headers_.constEnd()
            && expect.value().compare("100-continue", Qt::CaseInsensitive) == 0)
            socket_->write("HTTP/1.1 100 Continue\r\n\r\n");
    }

    user_call call(this);
    if (server_->handler_)
        server_->handler_(request, response);
}

void QHttpConnection::dispatch_end()
{
    stage_ = stage::complete;
    QHttpRequest* request = request_.data();
    if (!request)
        return; // answered before its body was read: nobody is waiting for the end
    request->complete_ = true;
    user_call call(this);
    emit request->end();
}

void QHttpConnection::write_answer(QHttpResponse* response, const QByteArray& body)
{
    if (gone_ || response != response_.data())
        return;
    const bool close = closing_ || !keep_alive_ || wire::asks_close(response->headers_);
    const wire::connection_note note = close ? wire::connection_note::close
        : http10_                            ? wire::connection_note::keep_alive
                                             : wire::connection_note::none;
    // Sent when the event loop next turns, together with the answers of the other connections
    // served in this turn: a burst of sends wakes the clients fewer times than sends spread
    // between the requests' own work, which under load costs more than the work itself.
    socket_->write(
        wire::answer_bytes(response->status_, response->headers_, body, response->head_, note));
    last_activity_ = clock_.elapsed();
    detach_request(body.size());
    if (close) {
        close_after_answer();
        return;
    }
    // An answer given from outside our own calls (an asynchronous reply) restarts the reading
    // of whatever the client sent meanwhile.
    if (stage_ == stage::complete && user_depth_ == 0 && (in_pos_ < in_.size() || readable_))
        schedule_pump();
}

void QHttpConnection::fail(http_errno error)
{
    if (body_too_large_)
        answer_error(413, QByteArrayLiteral("{\"What\":\"Request body too large\"}"));
    else if (error == HPE_HEADER_OVERFLOW)
        answer_error(431, QByteArrayLiteral("{\"What\":\"Request header too large\"}"));
    else
        answer_error(400, QByteArrayLiteral("{\"What\":\"Bad request\"}"));
}

void QHttpConnection::answer_error(int status, const QByteArray& json)
{
    if (gone_)
        return;
    // A request answered early and now failing in its body has had its answer already.
    const bool answered = stage_ == stage::body && !response_;
    if (!answered) {
        THeaderList headers;
        headers.add(QByteArrayLiteral("content-type"), QByteArrayLiteral("application/json"));
        socket_->write(
            wire::answer_bytes(status, headers, json, false, wire::connection_note::close));
    }
    if (QHttpResponse* response = response_.data()) {
        response->done_ = true; // the handler's own answer would come too late
        response->connection_.clear();
    }
    detach_request();
    close_after_answer();
}

void QHttpConnection::detach_request(qint64 answer_bytes)
{
    if (QHttpResponse* response = response_.data())
        response->connection_.clear();
    response_.clear();
    QHttpRequest* request = request_.data();
    request_.clear();
    if (!request)
        return;
    heap_trim::after_work(body_bytes_ + answer_bytes);
    if (user_depth_ > 0) {
        release_ = request;
        return;
    }
    // Answered from outside our calls, by code of the request's own that is still on the
    // stack: it goes when the event loop next turns, or with the connection if that is first.
    request->setParent(this);
    request->deleteLater();
}

void QHttpConnection::close_after_answer()
{
    closing_ = true;
    head_started_ = -1; // nothing more is parsed
    // Nor kept: the connection may linger a while after its last answer.
    in_ = QByteArray();
    in_pos_ = 0;
    // Sends what is queued, then closes; `closed` releases the connection.
    socket_->close_after_writing(
        server_->limits().linger_quiet_ms, server_->limits().linger_total_ms);
}

void QHttpConnection::teardown()
{
    if (gone_)
        return;
    gone_ = true;
    closing_ = true;
    idle_timer_->stop();
    detach_request();
    if (user_depth_ == 0)
        deleteLater();
}

// Started by the first byte of a head (or a blank line before it), unless it runs already.
void QHttpConnection::start_head_clock()
{
    const int head_timeout = server_->limits().head_timeout_ms;
    if (head_started_ >= 0 || head_timeout <= 0)
        return;
    head_started_ = clock_.elapsed();
    if (head_started_ + head_timeout < timer_due_)
        arm_timer(head_started_, -1);
}

// Runs the timer to the nearer of the idle deadline (`idle_in` from `now`; -1: none) and the
// deadline of the head under way.
void QHttpConnection::arm_timer(qint64 now, qint64 idle_in)
{
    qint64 in = idle_in;
    const int head_timeout = server_->limits().head_timeout_ms;
    if (head_started_ >= 0 && head_timeout > 0) {
        const qint64 head_in = qMax<qint64>(head_started_ + head_timeout - now, 0);
        in = in < 0 ? head_in : qMin(in, head_in);
    }
    if (in < 0) {
        idle_timer_->stop();
        timer_due_ = LLONG_MAX;
        return;
    }
    timer_due_ = now + in;
    idle_timer_->start(int(in));
}

void QHttpConnection::on_idle_timer()
{
    if (gone_)
        return;
    const qint64 now = clock_.elapsed();
    const int head_timeout = server_->limits().head_timeout_ms;
    const int timeout = server_->limits().idle_timeout_ms;
    const qint64 idle_in = timeout > 0 ? timeout : -1;
    // A head that takes too long never becomes a request: nothing is answered for it, and the
    // answers already given leave before the connection closes.
    if (head_started_ >= 0 && head_timeout > 0 && now - head_started_ >= head_timeout
        && !closing_) {
        head_started_ = -1;
        close_after_answer();
        if (!gone_)
            arm_timer(now, idle_in);
        return;
    }
    // A request waiting for its answer (or a handler still running) is not idleness.
    if (response_ && (stage_ == stage::complete || user_depth_ > 0)) {
        arm_timer(now, idle_in);
        return;
    }
    // An answer still draining to a client that keeps reading is not idleness either.
    const qint64 unsent = socket_->bytes_to_write();
    if (unsent > 0 && unsent != unsent_at_last_check_) {
        unsent_at_last_check_ = unsent;
        arm_timer(now, idle_in);
        return;
    }
    unsent_at_last_check_ = unsent;
    const qint64 idle = now - last_activity_;
    if (timeout <= 0 || idle < timeout) {
        arm_timer(now, timeout > 0 ? timeout - idle : -1);
        return;
    }
    if (closing_) {
        // Once the last answer has gone, the socket lingers on deadlines of its own.
        if (unsent == 0)
            return;
        // A client that does not even take its last answer is cut off.
        socket_->abort();
        teardown();
        return;
    }
    detach_request();
    close_after_answer();
    if (!gone_)
        arm_timer(now, idle_in);
}

} // namespace server
} // namespace qhttp
