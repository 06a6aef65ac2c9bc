// Bytes from a client into one server connection, over a socket pair: the first byte sets
// how many bytes each write carries, so requests may arrive whole or split anywhere. Every
// request is answered when its body is complete. When the client goes away the connection
// must go too.
#include "fuzz_app.h"
#include "http/qhttp_connection.h"
#include "http/qhttp_server.h"
#include "http/qhttp_tcp_stream.h"

#include <QPointer>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

using qhttp::server::QHttpConnection;
using qhttp::server::QHttpRequest;
using qhttp::server::QHttpResponse;
using qhttp::server::QHttpServer;

namespace {

QHttpServer* server = nullptr;

void answer(QHttpRequest* request, QHttpResponse* response)
{
    // What the road reads of every request.
    request->url().path(QUrl::FullyDecoded);
    request->url().query(QUrl::FullyDecoded);
    request->headers().value("cookie");
    request->collectData();
    QObject::connect(request, &QHttpRequest::end, response, [request, response] {
        response->addHeader("content-type", "text/plain");
        response->end(request->collectedData().left(32));
    });
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    start_fuzz_app();
    server = new QHttpServer;
    qhttp::server_limits limits;
    limits.max_body_bytes = 1 << 20;
    server->setLimits(limits);
    if (!server->listen(QHostAddress::LocalHost, 0, answer))
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        std::abort();
    auto* stream = new qhttp::tcp_stream(server);
    if (!stream->adopt(pair[0]))
        std::abort();
    const QPointer<QHttpConnection> connection = new QHttpConnection(stream, server);
    const int client = pair[1];
    ::fcntl(client, F_SETFL, ::fcntl(client, F_GETFL) | O_NONBLOCK);

    // 0: all at once; 1-15: that many bytes a write, for heads split anywhere; more: in
    // pieces of 64 bytes per unit.
    const size_t step = data[0] == 0 ? size : data[0] < 16 ? data[0] : size_t(data[0]) * 64;
    size_t sent = 1;
    while (sent < size && connection) {
        const ssize_t n = ::send(client, data + sent, std::min(step, size - sent), MSG_NOSIGNAL);
        if (n > 0)
            sent += size_t(n);
        else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            break;
        turn();
        drain(client);
    }
    for (int i = 0; i < 3 && connection; ++i) {
        turn();
        drain(client);
    }
    ::close(client);
    for (int i = 0; i < 100 && connection; ++i)
        turn();
    if (connection)
        std::abort(); // the client has gone, its connection has not
    return 0;
}
