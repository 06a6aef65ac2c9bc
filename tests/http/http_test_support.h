#pragma once

#include "http/qhttp_server.h"
#include "support/raw_http.h"

#include <QByteArray>
#include <QTcpSocket>
#include <functional>
#include <memory>

namespace http_test {

// Runs the event loop until pred() holds or wait_ms has passed; returns pred().
bool wait_until(const std::function<bool()>& pred, int wait_ms = 5000);

// Runs the event loop for a while; only for proving that something does NOT happen.
void spin(int ms);

// A non-blocking HTTP client on the test's own thread, so the server under test and the client
// share one event loop and the test decides exactly when bytes go out or the client leaves.
class peer
{
public:
    explicit peer(quint16 port);
    bool connected() const;
    void send(const QByteArray& bytes);
    // Next answer off the wire: Content-Length framed; HEAD answers and 1xx carry no body.
    bool read(raw_response& out, bool head = false, int wait_ms = 5000);
    // Bytes that arrived and were not consumed by read().
    QByteArray pending() const { return buf_; }
    bool wait_closed(int wait_ms = 5000);
    void abort();

private:
    bool parse(raw_response& out, bool head);
    std::unique_ptr<QTcpSocket> sock_;
    QByteArray buf_;
};

// A server on a free loopback port whose handler the test swaps per case.
struct server
{
    explicit server(const qhttp::server_limits& limits = {});
    qhttp::server::QHttpServer http;
    qhttp::server::TServerHandler handler;
    quint16 port() const { return http.serverPort(); }
};

// The usual handler: collects the body and answers at its end via answer().
using answer_fn = std::function<void(qhttp::server::QHttpRequest*, qhttp::server::QHttpResponse*)>;
qhttp::server::TServerHandler at_end(const answer_fn& answer);

} // namespace http_test
