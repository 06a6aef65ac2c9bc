#include "http/qhttp_client.h"

#include "http/qhttp_wire.h"

#include <http_parser.h>

namespace qhttp {
namespace client {

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

    void on_connected();
    void on_disconnected();
    void on_timeout();
    void pump();
    bool read_socket();
    bool deliver_head();
    void deliver_end();
    void fail();
    void after_user_calls();
    void commit_header();

    QHttpClient* q;
    QTcpSocket* socket = nullptr;
    QTimer* connect_timer = nullptr;
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

void QHttpClient::impl::on_connected()
{
    if (stopped)
        return;
    if (connect_timer)
        connect_timer->stop();
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    request = new QHttpRequest(q);
    const TRequstHandler handler = request_handler;
    user_call call(q);
    if (handler)
        handler(request);
}

void QHttpClient::impl::on_disconnected()
{
    if (stopped || finished)
        return;
    eof = true;
    pump();
}

void QHttpClient::impl::on_timeout()
{
    if (stopped || finished || socket->state() == QAbstractSocket::ConnectedState)
        return;
    stopped = true;
    socket->abort();
    emit q->connectingTimeOut();
}

bool QHttpClient::impl::read_socket()
{
    const qint64 available = socket->bytesAvailable();
    if (available <= 0)
        return false;
    if (in_pos >= in.size()) {
        in.clear();
        in_pos = 0;
    }
    in.append(socket->read(available));
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
    if (connect_timer)
        connect_timer->stop();
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
    if (!stopped && !finished && (in_pos < in.size() || eof || socket->bytesAvailable() > 0))
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

    d_->socket = new QTcpSocket(this);
    connect(d_->socket, &QTcpSocket::connected, this, [this] { d_->on_connected(); });
    connect(d_->socket, &QTcpSocket::readyRead, this, [this] { d_->pump(); });
    connect(d_->socket, &QTcpSocket::disconnected, this, [this] { d_->on_disconnected(); });
    connect(d_->socket, &QAbstractSocket::errorOccurred, this,
        [this](QAbstractSocket::SocketError error) {
            // The target closing may end an answer framed by the close; every other error
            // ends the request.
            if (error == QAbstractSocket::RemoteHostClosedError)
                d_->on_disconnected();
            else
                d_->fail();
        });
    if (connect_timeout_ms_ > 0) {
        d_->connect_timer = new QTimer(this);
        d_->connect_timer->setSingleShot(true);
        d_->connect_timer->setTimerType(Qt::PreciseTimer);
        connect(d_->connect_timer, &QTimer::timeout, this, [this] { d_->on_timeout(); });
        d_->connect_timer->start(int(connect_timeout_ms_));
    }
    if (url.host().isEmpty()) {
        QMetaObject::invokeMethod(
            this, [this] { d_->fail(); }, Qt::QueuedConnection);
        return false;
    }
    d_->socket->connectToHost(url.host(), quint16(url.port(80)));
    return true;
}

void QHttpClient::write_request(const QByteArray& data)
{
    if (d_->stopped || !d_->socket || d_->socket->state() != QAbstractSocket::ConnectedState)
        return;
    d_->socket->write(
        wire::request_bytes(method_name(d_->method), d_->url, d_->request->headers_, data));
}

} // namespace client
} // namespace qhttp
