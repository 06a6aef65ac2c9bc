#pragma once

#include "http/qhttp_types.h"

#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <memory>

namespace qhttp {
namespace client {

class QHttpClient;

// The request being written to the target; part of its client, not an object of its own.
class QHttpRequest
{
public:
    // Headers are written as given; the layer adds Host and Content-Length only when absent.
    void addHeader(const QByteArray& field, const QByteArray& value) { headers_.add(field, value); }
    THeaderList& headers() { return headers_; }
    // Writes the request line, headers and body and sends them.
    void end(const QByteArray& data = QByteArray());

private:
    friend class QHttpClient;
    explicit QHttpRequest(QHttpClient* client);
    QHttpClient* client_;
    THeaderList headers_;
    bool done_ = false;
};

// The target's answer; handed to the response callback when its head has arrived.
class QHttpResponse : public QObject
{
    Q_OBJECT
public:
    int status() const { return status_; }
    // Headers in arrival order, names as sent by the target.
    const THeaderList& headers() const { return headers_; }
    void collectData(int atMost = -1);
    const QByteArray& collectedData() const { return body_; }

signals:
    // The whole answer has arrived.
    void end();

private:
    friend class QHttpClient;
    explicit QHttpResponse(QObject* parent);
    int status_ = 0;
    THeaderList headers_;
    QByteArray body_;
    bool collect_ = false;
    int collect_limit_ = -1;
};

using TRequstHandler = std::function<void(QHttpRequest*)>;
using TResponseHandler = std::function<void(QHttpResponse*)>;

// Told of a request's course directly, in place of the handlers and signals: a client made for
// one request then costs no function objects and no signal connections to make and to undo.
// The client owns its user and deletes it when it goes; nothing is told from then on.
class client_user
{
public:
    virtual ~client_user() = default;
    // Connected: the request is to be filled in and ended.
    virtual void client_request(QHttpRequest* request) = 0;
    // The answer's head has arrived; then its end, as the response's end() signal.
    virtual void client_answer_head(QHttpResponse* response) = 0;
    virtual void client_answer_end(QHttpResponse* response) = 0;
    // In place of connectingTimeOut() (`connecting_timed_out`) and connectionError().
    virtual void client_failed(bool connecting_timed_out) = 0;
};

// One request to one HTTP target, on a connection of its own that carries nothing else. The
// request says "Connection: close" (in place of any Connection header of the caller), so that
// the target closes first and keeps the TIME_WAIT; a connection the target has not closed by the
// end of the answer, or on a failure, is reset. A request is sent once, never again.
class QHttpClient : public QObject
{
    Q_OBJECT
public:
    explicit QHttpClient(QObject* parent = nullptr);
    ~QHttpClient() override;
    void setConnectingTimeOut(quint32 ms) { connect_timeout_ms_ = ms; }
    // Once connected, the request fails when for this long no byte moves: neither a byte of
    // the request is sent nor a byte of the answer read; 0 (the default): no limit.
    void setProgressTimeOut(quint32 ms) { progress_timeout_ms_ = ms; }
    // An answer whose body is longer fails as soon as that is known (at its head when it
    // announces its length), before more than this is kept; -1 (the default): no limit.
    void setAnswerLimit(qint64 bytes) { answer_limit_ = bytes; }
    // Connects to url's host and port; when connected, calls reqHandler with the request to
    // fill in; when the answer's head arrives (interim 1xx answers skipped), calls resHandler.
    // 1xx, 204 and 304 answers, and the answer to HEAD, end at their head. The target is
    // written in encoded form, so a decoded path can never inject CR/LF.
    bool request(THttpMethod method, const QUrl& url, TRequstHandler reqHandler,
        TResponseHandler resHandler);
    // As above, telling the user instead, which the client takes over.
    bool request(THttpMethod method, const QUrl& url, std::unique_ptr<client_user> user);

signals:
    // Not connected within the connecting time-out.
    void connectingTimeOut();
    // The connection was refused, failed, dropped before the answer was complete, or reset
    // (even where the close would have ended the answer); the answer made no progress within
    // the progress time-out, or outgrew the answer limit; its status cannot be relayed (outside
    // 200-599 and not an interim 1xx, or 101), or its body has a transfer coding other than
    // chunked alone.
    void connectionError();

private:
    friend class QHttpRequest;
    void timerEvent(QTimerEvent* event) override;
    bool start(THttpMethod method, const QUrl& url);
    void write_request(const QByteArray& data);
    struct impl;
    impl* d_ = nullptr;
    quint32 connect_timeout_ms_ = 0;
    quint32 progress_timeout_ms_ = 0;
    qint64 answer_limit_ = -1;
};

} // namespace client
} // namespace qhttp
