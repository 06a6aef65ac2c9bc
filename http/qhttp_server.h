#pragma once

#include "app/notice_gate.h"
#include "http/qhttp_descriptor_reserve.h"
#include "http/qhttp_types.h"

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QUrl>
#include <functional>

class QSocketNotifier;
class QTimer;

namespace qhttp {

// Limits that keep one client from exhausting the process.
struct server_limits
{
    qint64 max_body_bytes = 64LL * 1024 * 1024; // larger bodies are answered 413
    int idle_timeout_ms = 60000; // connections idle this long are closed
    // A request head not complete this long after its first byte closes the connection.
    int head_timeout_ms = default_head_timeout_ms();
    // Reading and parsing stop while more than the high mark of answers waits to be sent, and
    // go on once it is down to the low mark.
    qint64 output_high_bytes = 1024 * 1024;
    qint64 output_low_bytes = 256 * 1024;
    // A connection the server closes stays open after its last answer, its input read and
    // dropped, until the client closes it, sends nothing for the quiet time, or the whole time
    // is up: a close with input unread would reset it and lose the answer with it.
    int linger_quiet_ms = 5000;
    int linger_total_ms = 30000;

    static int default_head_timeout_ms();
    // For tests: the head time-out of servers made from now on.
    static void set_default_head_timeout_ms(int ms);
};

// The backlog a listener asks for: the system's maximum as the file (net.core.somaxconn)
// tells it, SOMAXCONN when it cannot be read. A burst of connects then waits in the kernel
// instead of waiting a second for a SYN to be sent again.
int max_listen_backlog(const char* somaxconn_file = "/proc/sys/net/core/somaxconn");

namespace server {

class QHttpConnection;
class QHttpResponse;

// The answer to one request. Headers keep the order they were added in.
class QHttpResponse : public QObject
{
    Q_OBJECT
public:
    void setStatusCode(int code) { status_ = code; }
    int statusCode() const { return status_; }
    // A later header of the same name (case-insensitive) replaces the earlier one.
    void addHeader(const QByteArray& field, const QByteArray& value) { headers_.set(field, value); }
    THeaderList& headers() { return headers_; }
    // Writes the status line, the headers (Content-Length set by the layer), the body, and
    // completes the answer. A second end() is ignored.
    void end(const QByteArray& data = QByteArray());
    bool isDone() const { return done_; }

private:
    friend class QHttpConnection;
    friend class QHttpRequest;
    explicit QHttpResponse(QHttpConnection* connection);
    QPointer<QHttpConnection> connection_;
    int status_ = 200;
    THeaderList headers_;
    bool done_ = false;
    bool head_ = false;
};

// One incoming request. Created when its headers are complete, destroyed after its answer has
// been written (once the user code that wrote it has returned) or when the client goes away;
// its `destroyed` signal comes before its children are deleted. Its response is part of it and
// goes first.
class QHttpRequest : public QObject
{
    Q_OBJECT
public:
    THttpMethod method() const { return method_; }
    QByteArray methodString() const { return method_name(method_); }
    // The raw request target (path and query) as a URL.
    const QUrl& url() const { return url_; }
    const THeaderHash& headers() const { return headers_; }
    QString remoteAddress() const { return remote_address_; }
    quint16 remotePort() const { return remote_port_; }
    // Collects the body; -1: no limit of the caller's own (the server's cap still applies).
    void collectData(int atMost = -1);
    const QByteArray& collectedData() const { return body_; }
    // Lets go of the body once its reader has taken what it needs: a request that waits long
    // for its answer would hold it all that time.
    void dropCollectedData() { body_ = QByteArray(); }
    bool isComplete() const { return complete_; }

signals:
    // The whole request, body included, has arrived. Emitted once.
    void end();

private:
    friend class QHttpConnection;
    explicit QHttpRequest(QHttpConnection* connection);
    QHttpResponse response_;
    THttpMethod method_ = EHTTP_GET;
    QUrl url_;
    THeaderHash headers_;
    QString remote_address_;
    quint16 remote_port_ = 0;
    QByteArray body_;
    bool complete_ = false;
    bool collect_ = false;
    int collect_limit_ = -1;
};

using TServerHandler = std::function<void(QHttpRequest*, QHttpResponse*)>;

// HTTP/1.1 server: keep-alive, one request at a time per connection, pipelined requests
// answered in order.
class QHttpServer : public QObject
{
    Q_OBJECT
public:
    explicit QHttpServer(QObject* parent = nullptr);
    ~QHttpServer() override;
    bool listen(const QHostAddress& address, quint16 port, const TServerHandler& handler);
    bool isListening() const;
    quint16 serverPort() const;
    QString errorString() const;
    void stopListening();
    void setLimits(const server_limits& limits) { limits_ = limits; }
    const server_limits& limits() const { return limits_; }

signals:
    // Accepting has stopped for a moment: the process is out of file descriptors, or so near
    // its limit that the descriptors left are kept for the connections it has. Emitted at most
    // once a minute, however often connections come and go at the limit.
    void acceptPaused();

private:
    friend class QHttpConnection;
    void accept_pending();
    void accept(qintptr descriptor);
    void pause_accepting();
    QTcpServer* tcp_ = nullptr;
    QSocketNotifier* accept_notifier_ = nullptr;
    QTimer* accept_retry_ = nullptr;
    notice_gate pause_notice_; // acceptPaused at most once a minute
    descriptor_reserve reserve_;
    TServerHandler handler_;
    server_limits limits_;
};

} // namespace server
} // namespace qhttp
