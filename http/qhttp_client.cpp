#include "http/qhttp_client.h"

#include "http/qhttp_tcp_stream.h"
#include "http/qhttp_wire.h"

#include <QBasicTimer>
#include <QHostInfo>
#include <QTimerEvent>
#include <http_parser.h>

namespace qhttp {
namespace client {

namespace {

constexpr int read_chunk_bytes = 16 * 1024;

} // namespace

// The connection, the answer parser and the state of the one request of a client. User code
// (the two handlers and `end`) never runs inside the parser: the parser pauses where user
// code is due, and the pump runs it once the parser has returned.
struct QHttpClient::impl
{
    enum class event { none, head_done, message_done };

    explicit impl(QHttpClient* q)
        : q(q)
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

    void connect_to(const QHostAddress& address);
    void on_lookup(const QHostInfo& info);
    void on_connected();
    void on_stream_failed();
    void on_timeout();
    void pump();
    bool read_socket();
    bool deliver_head();
    void deliver_end();
    void fail();
    void after_user_calls();
    void commit_header();

    QHttpClient* q;
    tcp_stream* socket = nullptr;
    QList<QHostAddress> addresses; // still to try, when the host name gave several
    quint16 port = 0;
    // A timer without an object of its own: one more object per forward costs more than the
    // timer itself.
    QBasicTimer connect_timer;
    THttpMethod method = EHTTP_GET;
    QUrl url;
    TRequstHandler request_handler;
    TResponseHandler response_handler;
    QHttpRequest* request = nullptr;
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

    int depth = 0;
    bool started = false;
    bool unread_input = false; // the stream said it has input that has not been read yet
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
            d->ev = event::head_done;
            http_parser_pause(p, 1);
            // The answer to a HEAD request announces a body it does not carry.
            return (!d->interim && d->method == EHTTP_HEAD) ? 1 : 0;
        };
        s.on_body = [](http_parser* p, const char* at, size_t length) {
            QHttpResponse* r = of(p)->response.data();
            if (!r || !r->collect_)
                return 0;
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

// One stream per address tried: a stream that failed to connect is not used again.
void QHttpClient::impl::connect_to(const QHostAddress& address)
{
    if (socket) {
        socket->disconnect(q);
        socket->deleteLater();
    }
    socket = new tcp_stream(q);
    QObject::connect(socket, &tcp_stream::connected, q, [this] { on_connected(); });
    QObject::connect(socket, &tcp_stream::ready_read, q, [this] {
        unread_input = true;
        pump();
    });
    QObject::connect(socket, &tcp_stream::failed, q, [this] { on_stream_failed(); });
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
    connect_timer.stop();
    addresses.clear();
    request = new QHttpRequest(q);
    const TRequstHandler handler = request_handler;
    user_call call(q);
    if (handler)
        handler(request);
}

// The connection could not be made (the next address of the host is tried, if any) or broke.
void QHttpClient::impl::on_stream_failed()
{
    const bool never_connected = !request;
    if (never_connected && !addresses.isEmpty() && !stopped) {
        connect_to(addresses.takeFirst());
        return;
    }
    fail();
}

void QHttpClient::impl::on_timeout()
{
    if (stopped || finished || (socket && socket->is_connected()))
        return;
    stopped = true;
    if (socket)
        socket->abort();
    emit q->connectingTimeOut();
}

// Reads one chunk; false when nothing came (the end of the input sets `eof`). An answer is
// small as a rule, so it is read through the stack rather than into a chunk-sized buffer.
bool QHttpClient::impl::read_socket()
{
    if (!socket || eof)
        return false;
    char chunk[read_chunk_bytes];
    const qint64 got = socket->read(chunk, read_chunk_bytes);
    if (got <= 0) {
        unread_input = false;
        eof = got < 0;
        return false;
    }
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
    auto* r = new QHttpResponse(q);
    r->status_ = int(parser.status_code);
    r->headers_ = headers;
    headers = THeaderList();
    response = r;
    QPointer<QHttpClient> self(q);
    const TResponseHandler handler = response_handler;
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
    QHttpResponse* r = response.data();
    if (!r)
        return;
    user_call call(q);
    emit r->end();
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
    connect_timer.stop();
    if (socket)
        socket->abort();
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
    : QObject(client)
    , client_(client)
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
    // Nothing may be reported from here on; the socket is aborted without calling back.
    d_->stopped = true;
    if (d_->socket) {
        d_->socket->disconnect(this);
        d_->socket->abort();
    }
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

    if (connect_timeout_ms_ > 0)
        d_->connect_timer.start(int(connect_timeout_ms_), Qt::PreciseTimer, this);
    const QString host = url.host();
    if (host.isEmpty()) {
        QMetaObject::invokeMethod(
            this, [this] { d_->fail(); }, Qt::QueuedConnection);
        return false;
    }
    d_->port = quint16(url.port(80));
    QHostAddress address;
    if (address.setAddress(host))
        d_->connect_to(address);
    else
        QHostInfo::lookupHost(host, this, [this](const QHostInfo& info) { d_->on_lookup(info); });
    return true;
}

void QHttpClient::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != d_->connect_timer.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    d_->connect_timer.stop();
    d_->on_timeout();
}

void QHttpClient::write_request(const QByteArray& data)
{
    if (d_->stopped || !d_->socket || !d_->socket->is_connected())
        return;
    d_->socket->write(
        wire::request_bytes(method_name(d_->method), d_->url, d_->request->headers_, data));
}

} // namespace client
} // namespace qhttp
