#include "http/qhttp_client.h"

#include "http/qhttp_client_pool.h"
#include "http/qhttp_wire.h"

#include <QBasicTimer>
#include <QHostInfo>
#include <QTimerEvent>
#include <climits>
#include <http_parser.h>

namespace qhttp {
namespace client {

namespace {

constexpr int read_chunk_bytes = 16 * 1024;

} // namespace

// The connection, the answer parser and the state of the one request of a client. User code
// (the two handlers and `end`) never runs inside the parser: the parser pauses where user
// code is due, and the pump runs it once the parser has returned.
struct QHttpClient::impl final : link_user
{
    enum class event { none, head_done, message_done };

    explicit impl(QHttpClient* q)
        : q(q)
        , request(q)
    {
        http_parser_init(&parser, HTTP_RESPONSE);
        parser.data = this;
    }

    // Counts user calls on the stack; a failure seen meanwhile is reported after they return.
    class user_call
    {
    public:
        explicit user_call(QHttpClient* q)
            : q_(q)
        {
            ++q->d_->depth;
        }
        ~user_call()
        {
            if (q_ && --q_->d_->depth == 0)
                q_->d_->after_user_calls();
        }

    private:
        QPointer<QHttpClient> q_;
    };

    static const http_parser_settings& settings();
    static impl* of(http_parser* p) { return static_cast<impl*>(p->data); }

    void link_connected() override { on_connected(); }
    void link_readable() override
    {
        unread_input = true;
        notifier_paused = true;
        pump();
    }
    void link_failed() override { on_stream_failed(); }
    void link_destroyed() override { socket = nullptr; }

    void start_connecting();
    void connect_to(const QHostAddress& address);
    void on_lookup(const QHostInfo& info);
    void on_connected();
    void on_stream_failed();
    void on_timeout();
    void arm_progress_check();
    void on_progress_check();
    bool can_retry() const;
    void retry();
    void pump();
    bool read_socket();
    bool deliver_head();
    void deliver_end();
    void release_link();
    void fail();
    void after_user_calls();
    void commit_header();

    QHttpClient* q;
    target_link* socket = nullptr;
    QString host;
    QList<QHostAddress> addresses; // still to try, when the host name gave several
    quint16 port = 0;
    // A timer without an object of its own: one more object per forward costs more than the
    // timer itself. It times the connecting first, then the progress of the answer.
    QBasicTimer timer;
    bool connecting = false;
    qint64 last_progress_ms = 0;
    qint64 unsent_at_check = 0;
    THttpMethod method = EHTTP_GET;
    QUrl url;
    TRequstHandler request_handler;
    TResponseHandler response_handler;
    QHttpRequest request;
    bool request_made = false; // the request handler has been called
    QPointer<QHttpResponse> response;

    http_parser parser;
    QByteArray in;
    int in_pos = 0;
    event ev = event::none;
    QByteArray field;
    QByteArray value;
    bool in_value = false;
    THeaderList headers;
    bool interim = false;
    bool keep_alive = false; // the answer leaves the connection open for another request
    qint64 announced_length = -1; // the answer's Content-Length, -1 when it has none
    qint64 body_bytes = 0;
    QByteArray sent; // the request, kept to send again when a pooled connection fails it

    int depth = 0;
    bool started = false;
    bool unread_input = false; // the stream said it has input that has not been read yet
    bool notifier_paused = false; // no read since the last ready_read: the stream is quiet
    bool reused = false; // the connection came from the pool
    bool retried = false;
    bool received_any = false; // a byte of the answer came on this connection
    bool may_keep = true; // the caller did not ask to close the connection
    bool eof = false; // the target closed the connection
    bool finished = false; // the whole answer has arrived
    bool stopped = false; // failed or timed out: nothing more is reported
    bool fail_pending = false;
};

const http_parser_settings& QHttpClient::impl::settings()
{
    static const http_parser_settings s = [] {
        http_parser_settings s;
        http_parser_settings_init(&s);
        s.on_message_begin = [](http_parser* p) {
            impl* d = of(p);
            d->headers = THeaderList();
            d->field.clear();
            d->value.clear();
            d->in_value = false;
            d->interim = false;
            return 0;
        };
        s.on_header_field = [](http_parser* p, const char* at, size_t length) {
            impl* d = of(p);
            if (d->in_value)
                d->commit_header();
            d->field.append(at, int(length));
            return 0;
        };
        s.on_header_value = [](http_parser* p, const char* at, size_t length) {
            impl* d = of(p);
            d->value.append(at, int(length));
            d->in_value = true;
            return 0;
        };
        s.on_headers_complete = [](http_parser* p) {
            impl* d = of(p);
            if (d->in_value || !d->field.isEmpty())
                d->commit_header();
            d->interim = p->status_code >= 100 && p->status_code < 200 && p->status_code != 101;
            d->announced_length = (p->flags & F_CHUNKED) || p->content_length == ULLONG_MAX
                ? -1
                : qint64(qMin<quint64>(p->content_length, LLONG_MAX));
            d->ev = event::head_done;
            http_parser_pause(p, 1);
            // The answer to a HEAD request announces a body it does not carry.
            return (!d->interim && d->method == EHTTP_HEAD) ? 1 : 0;
        };
        s.on_body = [](http_parser* p, const char* at, size_t length) {
            impl* d = of(p);
            d->body_bytes += qint64(length);
            const qint64 limit = d->q->answer_limit_;
            if (limit >= 0 && d->body_bytes > limit)
                return 1; // fails the answer
            QHttpResponse* r = d->response.data();
            if (!r || !r->collect_)
                return 0;
            if (r->body_.isEmpty() && limit >= 0 && d->announced_length > 0
                && d->announced_length <= limit)
                r->body_.reserve(int(d->announced_length));
            int take = int(length);
            if (r->collect_limit_ >= 0)
                take = qMin(take, r->collect_limit_ - r->body_.size());
            if (take > 0)
                r->body_.append(at, take);
            return 0;
        };
        s.on_message_complete = [](http_parser* p) {
            of(p)->keep_alive = http_should_keep_alive(p) && !p->upgrade;
            of(p)->ev = event::message_done;
            http_parser_pause(p, 1);
            return 0;
        };
        return s;
    }();
    return s;
}

void QHttpClient::impl::commit_header()
{
    int end = value.size();
    while (end > 0 && (value.at(end - 1) == ' ' || value.at(end - 1) == '\t'))
        --end;
    value.truncate(end);
    headers.add(field, value);
    field = QByteArray();
    value = QByteArray();
    in_value = false;
}

void QHttpClient::impl::start_connecting()
{
    connecting = true;
    if (q->connect_timeout_ms_ > 0)
        timer.start(int(q->connect_timeout_ms_), Qt::PreciseTimer, q);
    QHostAddress address;
    if (address.setAddress(host))
        connect_to(address);
    else
        QHostInfo::lookupHost(host, q, [this](const QHostInfo& info) { on_lookup(info); });
}

// One stream per address tried: a stream that failed to connect is not used again.
void QHttpClient::impl::connect_to(const QHostAddress& address)
{
    if (socket)
        connection_pool::discard(socket);
    socket = connection_pool::instance().make(host, port, this);
    socket->connect_to(address, port);
}

void QHttpClient::impl::on_lookup(const QHostInfo& info)
{
    if (stopped)
        return;
    addresses = info.addresses();
    if (info.error() != QHostInfo::NoError || addresses.isEmpty()) {
        fail();
        return;
    }
    connect_to(addresses.takeFirst());
}

void QHttpClient::impl::on_connected()
{
    if (stopped)
        return;
    connecting = false;
    timer.stop();
    addresses.clear();
    arm_progress_check();
    if (request_made) {
        // A fresh connection in place of a pooled one that failed: the request goes again.
        if (!sent.isEmpty()) {
            socket->write(sent);
            unsent_at_check = socket->bytes_to_write();
        }
        return;
    }
    request_made = true;
    // Called once; taken out, since the handler may release the client.
    const TRequstHandler handler = std::move(request_handler);
    user_call call(q);
    if (handler)
        handler(&request);
}

// The connection could not be made (the next address of the host is tried, if any) or broke.
void QHttpClient::impl::on_stream_failed()
{
    const bool never_connected = connecting;
    if (never_connected && !addresses.isEmpty() && !stopped) {
        connect_to(addresses.takeFirst());
        return;
    }
    if (can_retry()) {
        retry();
        return;
    }
    fail();
}

void QHttpClient::impl::on_timeout()
{
    if (stopped || finished || !connecting)
        return;
    stopped = true;
    if (socket) {
        connection_pool::discard(socket);
        socket = nullptr;
    }
    emit q->connectingTimeOut();
}

void QHttpClient::impl::arm_progress_check()
{
    if (q->progress_timeout_ms_ == 0)
        return;
    last_progress_ms = coarse_now_ms();
    unsent_at_check = 0;
    timer.start(int(q->progress_timeout_ms_), Qt::CoarseTimer, q);
}

// Reading marks progress as it goes; sending is looked at only here, by what is still unsent.
void QHttpClient::impl::on_progress_check()
{
    if (stopped || finished)
        return;
    const qint64 now = coarse_now_ms();
    const qint64 unsent = socket ? socket->bytes_to_write() : 0;
    if (unsent < unsent_at_check)
        last_progress_ms = now;
    unsent_at_check = unsent;
    const qint64 quiet = now - last_progress_ms;
    const qint64 limit = q->progress_timeout_ms_;
    if (quiet < limit) {
        timer.start(int(qMax<qint64>(limit - quiet, 1)), Qt::CoarseTimer, q);
        return;
    }
    fail();
}

// The target may close an idle connection just as a request is sent on it; nothing was done
// with such a request, so it goes again, once, on a connection of its own.
bool QHttpClient::impl::can_retry() const
{
    return reused && !retried && !received_any && !stopped && !finished;
}

void QHttpClient::impl::retry()
{
    retried = true;
    reused = false;
    connection_pool::discard(socket);
    socket = nullptr;
    timer.stop();
    http_parser_init(&parser, HTTP_RESPONSE);
    parser.data = this;
    in.clear();
    in_pos = 0;
    eof = false;
    unread_input = false;
    notifier_paused = false;
    start_connecting();
}

// Reads one chunk; false when nothing came (the end of the input sets `eof`). An answer is
// small as a rule, so it is read through the stack rather than into a chunk-sized buffer.
bool QHttpClient::impl::read_socket()
{
    if (!socket || eof)
        return false;
    char chunk[read_chunk_bytes];
    const qint64 got = socket->read(chunk, read_chunk_bytes);
    notifier_paused = false;
    if (got <= 0) {
        unread_input = false;
        eof = got < 0;
        return false;
    }
    received_any = true;
    if (q->progress_timeout_ms_ > 0)
        last_progress_ms = coarse_now_ms();
    if (in_pos >= in.size()) {
        in.resize(0);
        in_pos = 0;
    }
    in.append(chunk, int(got));
    return true;
}

void QHttpClient::impl::pump()
{
    if (depth > 0 || stopped || finished)
        return;
    QPointer<QHttpClient> self(q);
    for (;;) {
        if (in_pos >= in.size() && !read_socket())
            break;
        if (HTTP_PARSER_ERRNO(&parser) == HPE_PAUSED)
            http_parser_pause(&parser, 0);
        ev = event::none;
        const size_t parsed = http_parser_execute(
            &parser, &settings(), in.constData() + in_pos, size_t(in.size() - in_pos));
        in_pos += int(parsed);
        const http_errno error = HTTP_PARSER_ERRNO(&parser);
        if (error != HPE_OK && error != HPE_PAUSED) {
            fail();
            return;
        }
        if (ev == event::head_done) {
            if (!deliver_head())
                return;
        } else if (ev == event::message_done) {
            if (!interim) {
                deliver_end();
                return;
            }
        } else if (parsed == 0) {
            fail();
            return;
        }
        if (!self || stopped || finished)
            return;
        if (depth > 0)
            return;
    }
    if (!eof)
        return;
    if (can_retry()) {
        retry();
        return;
    }
    // The target closed: an answer framed by the close ends here, anything else is cut off.
    if (HTTP_PARSER_ERRNO(&parser) == HPE_PAUSED)
        http_parser_pause(&parser, 0);
    ev = event::none;
    http_parser_execute(&parser, &settings(), nullptr, 0);
    if (ev == event::message_done && !interim && response)
        deliver_end();
    else
        fail();
}

bool QHttpClient::impl::deliver_head()
{
    if (interim)
        return true;
    // Nothing of an answer known to be too long is read.
    const qint64 limit = q->answer_limit_;
    const bool bodiless
        = method == EHTTP_HEAD || parser.status_code == 204 || parser.status_code == 304;
    if (limit >= 0 && announced_length > limit && !bodiless) {
        fail();
        return false;
    }
    auto* r = new QHttpResponse(q);
    r->status_ = int(parser.status_code);
    r->headers_ = headers;
    headers = THeaderList();
    response = r;
    QPointer<QHttpClient> self(q);
    // Called once, for the one final answer; taken out, since it may release the client.
    const TResponseHandler handler = std::move(response_handler);
    {
        user_call call(q);
        if (handler)
            handler(r);
    }
    return self && !stopped;
}

void QHttpClient::impl::deliver_end()
{
    finished = true;
    timer.stop();
    release_link();
    QHttpResponse* r = response.data();
    if (!r)
        return;
    user_call call(q);
    emit r->end();
}

// After a whole answer: the connection goes back to the pool when it is clean, with nothing of
// this request left to send and nothing beyond the answer received.
void QHttpClient::impl::release_link()
{
    target_link* link = socket;
    socket = nullptr;
    sent = QByteArray();
    if (!link)
        return;
    bool clean = keep_alive && may_keep && !eof && in_pos >= in.size() && link->is_connected()
        && link->bytes_to_write() == 0;
    // A stream that signalled input is quiet until read again: read it, so that the pool
    // hears of whatever comes next.
    if (clean && notifier_paused) {
        char byte;
        clean = link->read(&byte, 1) == 0;
    }
    if (clean)
        connection_pool::instance().give_back(link);
    else
        connection_pool::discard(link);
}

void QHttpClient::impl::fail()
{
    if (stopped || finished)
        return;
    if (depth > 0) {
        fail_pending = true; // reported once the user code on the stack has returned
        return;
    }
    stopped = true;
    timer.stop();
    if (socket) {
        connection_pool::discard(socket);
        socket = nullptr;
    }
    emit q->connectionError();
}

void QHttpClient::impl::after_user_calls()
{
    if (fail_pending) {
        fail_pending = false;
        fail();
        return;
    }
    // Input that arrived while user code ran is parsed now.
    if (!stopped && !finished && (in_pos < in.size() || eof || unread_input))
        QMetaObject::invokeMethod(
            q, [this] { pump(); }, Qt::QueuedConnection);
}

void QHttpRequest::end(const QByteArray& data)
{
    if (done_)
        return;
    done_ = true;
    client_->write_request(data);
}

QHttpRequest::QHttpRequest(QHttpClient* client)
    : client_(client)
{ }

QHttpResponse::QHttpResponse(QObject* parent)
    : QObject(parent)
{ }

void QHttpResponse::collectData(int atMost)
{
    collect_ = true;
    collect_limit_ = atMost;
}

QHttpClient::QHttpClient(QObject* parent)
    : QObject(parent)
    , d_(new impl(this))
{ }

QHttpClient::~QHttpClient()
{
    // Nothing may be reported from here on; the connection is closed without calling back.
    d_->stopped = true;
    if (d_->socket)
        connection_pool::discard(d_->socket);
    delete d_;
    d_ = nullptr;
}

bool QHttpClient::request(THttpMethod method, const QUrl& url, const TRequstHandler& reqHandler,
    const TResponseHandler& resHandler)
{
    if (d_->started)
        return false;
    d_->started = true;
    d_->method = method;
    d_->url = url;
    d_->request_handler = reqHandler;
    d_->response_handler = resHandler;

    d_->host = url.host();
    if (d_->host.isEmpty()) {
        QMetaObject::invokeMethod(
            this, [this] { d_->fail(); }, Qt::QueuedConnection);
        return false;
    }
    d_->port = quint16(url.port(80));
    if (target_link* idle = connection_pool::instance().take(d_->host, d_->port)) {
        d_->socket = idle;
        idle->user = d_;
        d_->reused = true;
        d_->on_connected();
        return true;
    }
    d_->start_connecting();
    return true;
}

void QHttpClient::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != d_->timer.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    d_->timer.stop();
    if (d_->connecting)
        d_->on_timeout();
    else
        d_->on_progress_check();
}

void QHttpClient::write_request(const QByteArray& data)
{
    if (d_->stopped || d_->finished)
        return;
    THeaderList& headers = d_->request.headers_;
    if (!headers.has("connection"))
        headers.add(QByteArrayLiteral("Connection"), QByteArrayLiteral("keep-alive"));
    else if (wire::asks_close(headers))
        d_->may_keep = false;
    const QByteArray bytes = wire::request_bytes(method_name(d_->method), d_->url, headers, data);
    target_link* link = d_->socket;
    const bool connected = link && link->is_connected();
    // Kept to be sent again should a pooled connection fail it, or sent once the fresh
    // connection that replaces a failed one is made.
    if (d_->reused || !connected)
        d_->sent = bytes;
    if (connected) {
        link->write(bytes);
        d_->unsent_at_check = link->bytes_to_write();
    }
}

} // namespace client
} // namespace qhttp
