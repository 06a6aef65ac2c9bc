#include "http/qhttp_client.h"

#include "http/qhttp_tcp_stream.h"
#include "http/qhttp_wire.h"

#include <QBasicTimer>
#include <QHostInfo>
#include <QTimerEvent>
#include <climits>
#include <ctime>
#include <http_parser.h>

namespace qhttp {
namespace client {

namespace {

constexpr int read_chunk_bytes = 16 * 1024;

// A monotonic clock in milliseconds, as cheap to read as the kernel allows; its precision (a
// few milliseconds) is ample for a stall limit.
qint64 coarse_now_ms()
{
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// What the gateway can hand on as an answer: a final status it can write, or an interim one it
// skips. 101 would leave the connection in another protocol.
bool relayable_status(unsigned status)
{
    return status >= 100 && status <= 599 && status != 101;
}

// The address a host names when it is written as one. The targets are few: the last host is
// kept with its address rather than parsed again for every forward.
const QHostAddress* numeric_address(const QString& host)
{
    struct last_host
    {
        QString host;
        QHostAddress address;
        bool numeric = false;
    };
    static thread_local last_host last;
    if (last.host.isNull() || last.host != host) {
        last.host = host;
        last.numeric = last.address.setAddress(host);
    }
    return last.numeric ? &last.address : nullptr;
}

// The handlers-and-signals form of a request: told as any user is.
class handler_user final : public client_user
{
public:
    handler_user(QHttpClient* client, TRequstHandler on_request, TResponseHandler on_answer)
        : client_(client)
        , on_request_(std::move(on_request))
        , on_answer_(std::move(on_answer))
    { }

    // Each handler is called once and taken out first: it may release the client, and this
    // user with it.
    void client_request(QHttpRequest* request) override
    {
        if (const TRequstHandler handler = std::move(on_request_))
            handler(request);
    }
    void client_answer_head(QHttpResponse* response) override
    {
        if (const TResponseHandler handler = std::move(on_answer_))
            handler(response);
    }
    void client_answer_end(QHttpResponse* response) override { emit response->end(); }
    void client_failed(bool connecting_timed_out) override
    {
        if (connecting_timed_out)
            emit client_->connectingTimeOut();
        else
            emit client_->connectionError();
    }

private:
    QHttpClient* client_;
    TRequstHandler on_request_;
    TResponseHandler on_answer_;
};

} // namespace

// The connection, the answer parser and the state of the one request of a client. User code
// (the two handlers and `end`) never runs inside the parser: the parser pauses where user
// code is due, and the pump runs it once the parser has returned.
struct QHttpClient::impl final : stream_user
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

    void start_connecting();
    void connect_to(const QHostAddress& address);
    void on_lookup(const QHostInfo& info);
    void on_connected();
    void on_stream_failed();
    void on_readable();
    void stream_connected() override { on_connected(); }
    void stream_readable() override { on_readable(); }
    void stream_failed() override { on_stream_failed(); }
    void stream_drained() override { on_sent(); }
    void on_timeout();
    void watch_sending();
    void on_sent();
    void on_progress_check();
    void pump();
    bool read_socket();
    bool deliver_head();
    void deliver_end();
    void close_link();
    void fail();
    void after_user_calls();
    void commit_header();

    QHttpClient* q;
    tcp_stream* socket = nullptr;
    QString host;
    QList<QHostAddress> addresses; // still to try, when the host name gave several
    quint16 port = 0;
    // A timer without an object of its own: one more object per forward costs more than the
    // timer itself. It times the connecting first, then the progress of the answer.
    QBasicTimer timer;
    bool connecting = false;
    qint64 connect_due_ms = 0; // when the connecting time-out is due
    qint64 last_progress_ms = 0; // when a byte last moved, either way
    THttpMethod method = EHTTP_GET;
    QUrl url;
    std::unique_ptr<client_user> user;
    QHttpRequest request;
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
    bool bodiless = false; // the answer ends at its head whatever its headers say
    qint64 announced_length = -1; // the answer's Content-Length, -1 when it has none
    qint64 body_bytes = 0;

    int depth = 0;
    bool started = false;
    bool unread_input = false; // the stream said it has input that has not been read yet
    bool eof = false; // nothing more comes from the target
    bool broken = false; // ... because the connection broke, not because the target closed it
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
            d->headers.reserve(usual_header_count);
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
            const unsigned status = p->status_code;
            if (!relayable_status(status))
                return -1; // fails the answer
            if (d->in_value || !d->field.isEmpty())
                d->commit_header();
            d->interim = status < 200;
            d->bodiless = d->interim || status == 204 || status == 304 || d->method == EHTTP_HEAD;
            if (p->uses_transfer_encoding && !d->bodiless && !wire::chunked_alone(d->headers))
                return -1; // its body would go on still coded, as plain bytes
            d->announced_length = (p->flags & F_CHUNKED) || p->content_length == ULLONG_MAX
                ? -1
                : qint64(qMin<quint64>(p->content_length, LLONG_MAX));
            d->ev = event::head_done;
            http_parser_pause(p, 1);
            // 1: the parser skips the body the headers announce.
            return d->bodiless ? 1 : 0;
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
    if (q->connect_timeout_ms_ > 0) {
        connect_due_ms = coarse_now_ms() + q->connect_timeout_ms_;
        timer.start(int(q->connect_timeout_ms_), Qt::PreciseTimer, q);
    }
    if (const QHostAddress* address = numeric_address(host))
        connect_to(*address);
    else
        QHostInfo::lookupHost(host, q, [this](const QHostInfo& info) { on_lookup(info); });
}

// One stream per address tried: a stream that failed to connect is not used again.
void QHttpClient::impl::connect_to(const QHostAddress& address)
{
    close_link();
    socket = new tcp_stream(q);
    socket->set_user(this);
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
    addresses.clear();
    const qint64 limit = q->progress_timeout_ms_;
    if (limit > 0) {
        last_progress_ms = coarse_now_ms();
        // A connecting timer due before the progress limit makes the first check: one timer
        // fewer to set up and take down for each forward.
        if (!timer.isActive() || connect_due_ms > last_progress_ms + limit)
            timer.start(int(limit), Qt::CoarseTimer, q);
    } else {
        timer.stop();
    }
    user_call call(q);
    user->client_request(&request);
}

// The connection could not be made (the next address of the host is tried, if any) or broke.
void QHttpClient::impl::on_stream_failed()
{
    if (connecting && !addresses.isEmpty() && !stopped) {
        connect_to(addresses.takeFirst());
        return;
    }
    fail();
}

void QHttpClient::impl::on_readable()
{
    unread_input = true;
    pump();
}

void QHttpClient::impl::on_timeout()
{
    if (stopped || finished || !connecting)
        return;
    stopped = true;
    close_link();
    user->client_failed(true);
}

// The stream tells as soon as a byte of what is queued has been sent: that is progress.
void QHttpClient::impl::watch_sending()
{
    if (q->progress_timeout_ms_ > 0 && socket && socket->bytes_to_write() > 0)
        socket->notify_drained(socket->bytes_to_write() - 1);
}

void QHttpClient::impl::on_sent()
{
    last_progress_ms = coarse_now_ms();
    watch_sending();
}

void QHttpClient::impl::on_progress_check()
{
    if (stopped || finished)
        return;
    const qint64 quiet = coarse_now_ms() - last_progress_ms;
    const qint64 limit = q->progress_timeout_ms_;
    if (quiet < limit) {
        timer.start(int(qMax<qint64>(limit - quiet, 1)), Qt::CoarseTimer, q);
        return;
    }
    fail();
}

bool QHttpClient::impl::read_socket()
{
    if (!socket || eof)
        return false;
    char chunk[read_chunk_bytes];
    const qint64 got = socket->read(chunk, read_chunk_bytes);
    if (got <= 0) {
        unread_input = false;
        eof = got < 0;
        broken = got == tcp_stream::input_broken;
        return false;
    }
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
    // Only a target that closed in order ends an answer framed by the close; a reset cuts it off.
    if (broken) {
        fail();
        return;
    }
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
    if (limit >= 0 && announced_length > limit && !bodiless) {
        fail();
        return false;
    }
    auto* r = new QHttpResponse(q);
    r->status_ = int(parser.status_code);
    r->headers_ = std::move(headers);
    headers = THeaderList();
    response = r;
    QPointer<QHttpClient> self(q);
    {
        user_call call(q);
        user->client_answer_head(r);
    }
    return self && !stopped;
}

void QHttpClient::impl::deliver_end()
{
    finished = true;
    timer.stop();
    close_link();
    QHttpResponse* r = response.data();
    if (!r)
        return;
    user_call call(q);
    user->client_answer_end(r);
}

// The target was asked to close, and one that did holds the TIME_WAIT. A connection it has not
// closed yet, or that carries bytes beyond the answer, is reset, so that no TIME_WAIT stays on
// the gateway's side either way. The closed stream goes with its client.
void QHttpClient::impl::close_link()
{
    tcp_stream* link = socket;
    socket = nullptr;
    if (!link)
        return;
    link->set_user(nullptr);
    char byte;
    if (eof || link->read(&byte, 1) < 0)
        link->abort();
    else
        link->reset();
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
    close_link();
    user->client_failed(false);
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
{
    headers_.reserve(usual_header_count);
}

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
    d_->close_link();
    delete d_;
    d_ = nullptr;
}

bool QHttpClient::request(
    THttpMethod method, const QUrl& url, TRequstHandler reqHandler, TResponseHandler resHandler)
{
    return request(method, url,
        std::make_unique<handler_user>(this, std::move(reqHandler), std::move(resHandler)));
}

bool QHttpClient::request(THttpMethod method, const QUrl& url, std::unique_ptr<client_user> user)
{
    if (d_->started)
        return false;
    d_->user = std::move(user);
    return start(method, url);
}

bool QHttpClient::start(THttpMethod method, const QUrl& url)
{
    d_->started = true;
    d_->method = method;
    d_->url = url;
    d_->host = url.host();
    if (d_->host.isEmpty()) {
        QMetaObject::invokeMethod(
            this, [this] { d_->fail(); }, Qt::QueuedConnection);
        return false;
    }
    d_->port = quint16(url.port(80));
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
    if (d_->stopped || d_->finished || !d_->socket)
        return;
    THeaderList& headers = d_->request.headers_;
    headers.set(QByteArrayLiteral("Connection"), QByteArrayLiteral("close"));
    d_->socket->write(wire::request_bytes(method_name(d_->method), d_->url, headers, data));
    d_->watch_sending();
}

} // namespace client
} // namespace qhttp
