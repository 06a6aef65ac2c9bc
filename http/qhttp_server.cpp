#include "http/qhttp_server.h"

#include "http/qhttp_connection.h"
#include "http/qhttp_tcp_stream.h"

#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <sys/socket.h>

namespace qhttp {

namespace {

// A listener that ran out of descriptors tries again after this long; the connections that
// wait meanwhile stay in the kernel's backlog.
constexpr int starved_accept_retry_ms = 250;

int head_timeout_default_ms = 60000;

} // namespace

int max_listen_backlog(const char* somaxconn_file)
{
    int backlog = 0;
    if (FILE* file = std::fopen(somaxconn_file, "re")) {
        if (std::fscanf(file, "%d", &backlog) != 1)
            backlog = 0;
        std::fclose(file);
    }
    return backlog > 0 ? backlog : SOMAXCONN;
}

int server_limits::default_head_timeout_ms()
{
    return head_timeout_default_ms;
}

void server_limits::set_default_head_timeout_ms(int ms)
{
    head_timeout_default_ms = ms;
}

namespace server {

// Without a parent: a child would cost its connection two events per request. The connection
// deletes it.
QHttpRequest::QHttpRequest(QHttpConnection* connection)
    : response_(connection)
{ }

void QHttpRequest::collectData(int atMost)
{
    collect_ = true;
    collect_limit_ = atMost;
}

QHttpResponse::QHttpResponse(QHttpConnection* connection)
    : connection_(connection)
{
    headers_.reserve(usual_header_count);
}

void QHttpResponse::end(const QByteArray& data)
{
    if (done_)
        return;
    done_ = true;
    if (QHttpConnection* connection = connection_.data())
        connection->write_answer(this, data);
}

QHttpServer::QHttpServer(QObject* parent)
    : QObject(parent)
    , tcp_(new QTcpServer(this))
    , accept_retry_(new QTimer(this))
{
    accept_retry_->setSingleShot(true);
    connect(accept_retry_, &QTimer::timeout, this, [this] {
        if (accept_notifier_)
            accept_notifier_->setEnabled(true);
    });
}

QHttpServer::~QHttpServer()
{
    // Connections are children; they go before the listener does.
    stopListening();
}

// QTcpServer only binds and listens here: its own accepting spins on a listener that is out of
// descriptors (the pending connection keeps it readable) and wraps every connection in more
// than the layer needs.
bool QHttpServer::listen(const QHostAddress& address, quint16 port, const TServerHandler& handler)
{
    handler_ = handler;
    stopListening();
    if (!tcp_->listen(address, port))
        return false;
    // Listening again only changes the backlog; Qt's own is 50.
    ::listen(int(tcp_->socketDescriptor()), max_listen_backlog());
    tcp_->pauseAccepting();
    accept_notifier_ = new QSocketNotifier(tcp_->socketDescriptor(), QSocketNotifier::Read, this);
    connect(accept_notifier_, &QSocketNotifier::activated, this, &QHttpServer::accept_pending);
    return true;
}

bool QHttpServer::isListening() const
{
    return tcp_->isListening();
}

quint16 QHttpServer::serverPort() const
{
    return tcp_->serverPort();
}

QString QHttpServer::errorString() const
{
    return tcp_->errorString();
}

void QHttpServer::stopListening()
{
    delete accept_notifier_; // before the descriptor it watches is closed
    accept_notifier_ = nullptr;
    accept_retry_->stop();
    tcp_->close();
}

void QHttpServer::accept_pending()
{
    const int listener = int(tcp_->socketDescriptor());
    reserve_.refresh_limit();
    for (;;) {
        if (!reserve_.allows_one_more()) {
            pause_accepting();
            return;
        }
        const int descriptor = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (descriptor >= 0) {
            accept(descriptor);
            continue;
        }
        // A connection reset before it was taken is only that one connection's end.
        if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO)
            continue;
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            // The reserve's count missed descriptors the process opened meanwhile.
            if (errno == EMFILE)
                reserve_.recount();
            pause_accepting();
        }
        return; // EAGAIN: all taken
    }
}

// Descriptors come back as connections close: the listener rests meanwhile, and the
// connections that wait stay in the kernel's backlog.
void QHttpServer::pause_accepting()
{
    accept_notifier_->setEnabled(false);
    accept_retry_->start(starved_accept_retry_ms);
    if (pause_notice_.open())
        emit acceptPaused();
}

void QHttpServer::accept(qintptr descriptor)
{
    auto* stream = new tcp_stream(this);
    if (!stream->adopt(descriptor)) {
        delete stream;
        return;
    }
    new QHttpConnection(stream, this);
}

} // namespace server
} // namespace qhttp
