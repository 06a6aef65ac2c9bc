#include "http/qhttp_server.h"

#include "http/qhttp_connection.h"
#include "http/qhttp_tcp_stream.h"

namespace qhttp {
namespace server {

namespace {

// Hands every accepted descriptor to the server as it is, without a QTcpSocket around it.
class descriptor_listener : public QTcpServer
{
public:
    descriptor_listener(QHttpServer* server, void (QHttpServer::*accept)(qintptr))
        : QTcpServer(server)
        , server_(server)
        , accept_(accept)
    { }

protected:
    void incomingConnection(qintptr descriptor) override { (server_->*accept_)(descriptor); }

private:
    QHttpServer* server_;
    void (QHttpServer::*accept_)(qintptr);
};

} // namespace

QHttpRequest::QHttpRequest(QObject* parent)
    : QObject(parent)
{ }

void QHttpRequest::collectData(int atMost)
{
    collect_ = true;
    collect_limit_ = atMost;
}

QHttpResponse::QHttpResponse(QHttpConnection* connection, QObject* parent)
    : QObject(parent)
    , connection_(connection)
{ }

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
    , tcp_(new descriptor_listener(this, &QHttpServer::accept))
{ }

QHttpServer::~QHttpServer()
{
    // Connections are children; they go before the listener does.
    tcp_->close();
}

bool QHttpServer::listen(const QHostAddress& address, quint16 port, const TServerHandler& handler)
{
    handler_ = handler;
    if (tcp_->isListening())
        tcp_->close();
    return tcp_->listen(address, port);
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
    tcp_->close();
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
