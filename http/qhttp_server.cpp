#include "http/qhttp_server.h"

#include "http/qhttp_connection.h"

namespace qhttp {
namespace server {

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
    , tcp_(new QTcpServer(this))
{
    connect(tcp_, &QTcpServer::newConnection, this, &QHttpServer::accept_pending);
}

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

void QHttpServer::accept_pending()
{
    while (QTcpSocket* socket = tcp_->nextPendingConnection())
        new QHttpConnection(socket, this);
}

} // namespace server
} // namespace qhttp
