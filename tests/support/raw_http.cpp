#include "support/raw_http.h"

#include <QElapsedTimer>

QByteArray raw_response::header(const QByteArray& name) const
{
    for (const auto& h : headers)
        if (h.first.toLower() == name.toLower())
            return h.second;
    return {};
}

int raw_response::header_count(const QByteArray& name) const
{
    int n = 0;
    for (const auto& h : headers)
        n += h.first.toLower() == name.toLower();
    return n;
}

int raw_response::index_of(const QByteArray& name) const
{
    for (int i = 0; i < headers.size(); ++i)
        if (headers[i].first.toLower() == name.toLower())
            return i;
    return -1;
}

raw_http::raw_http(quint16 port, const QString& host)
    : sock_(new QTcpSocket)
{
    sock_->connectToHost(host, port);
    sock_->waitForConnected(5000);
}

bool raw_http::connected() const
{
    return sock_->state() == QAbstractSocket::ConnectedState;
}

void raw_http::send(const QByteArray& bytes)
{
    sock_->write(bytes);
    sock_->waitForBytesWritten(5000);
}

bool raw_http::fill(int wait_ms)
{
    if (sock_->bytesAvailable() == 0 && !sock_->waitForReadyRead(wait_ms))
        return false;
    buf_ += sock_->readAll();
    return true;
}

bool raw_http::read(raw_response& out, int wait_ms, bool head)
{
    out = raw_response();
    QElapsedTimer t;
    t.start();
    int end;
    while ((end = buf_.indexOf("\r\n\r\n")) < 0)
        if (t.elapsed() > wait_ms || !fill(wait_ms - int(t.elapsed())))
            return false;
    const QList<QByteArray> lines = buf_.left(end).split('\n');
    buf_.remove(0, end + 4);
    const QList<QByteArray> status = lines.value(0).trimmed().split(' ');
    out.status = status.value(1).toInt();
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const int colon = line.indexOf(':');
        if (colon > 0)
            out.headers.append({ line.left(colon), line.mid(colon + 1).trimmed() });
    }
    if (head || out.status == 204 || out.status == 304 || (out.status >= 100 && out.status < 200))
        return true;
    const QByteArray len = out.header("content-length");
    if (len.isEmpty()) {
        // No length: the body runs to the close.
        while (fill(qMax(1, wait_ms - int(t.elapsed())))) { }
        out.body = buf_;
        buf_.clear();
        return true;
    }
    const int n = len.toInt();
    while (buf_.size() < n)
        if (t.elapsed() > wait_ms || !fill(wait_ms - int(t.elapsed())))
            return false;
    out.body = buf_.left(n);
    buf_.remove(0, n);
    return true;
}

bool raw_http::wait_closed(int wait_ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < wait_ms) {
        if (sock_->state() == QAbstractSocket::UnconnectedState)
            return true;
        if (!sock_->waitForReadyRead(100)) {
            if (sock_->state() == QAbstractSocket::UnconnectedState)
                return true;
            continue;
        }
        buf_ += sock_->readAll();
    }
    return sock_->state() == QAbstractSocket::UnconnectedState;
}

raw_response raw_http::request(quint16 port, const QByteArray& method, const QByteArray& target,
    const QList<QPair<QByteArray, QByteArray>>& headers, const QByteArray& body, int wait_ms)
{
    raw_http c(port);
    QByteArray req = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const auto& h : headers)
        req += h.first + ": " + h.second + "\r\n";
    if (!body.isEmpty() || method == "POST" || method == "PUT")
        req += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    req += "\r\n" + body;
    c.send(req);
    raw_response r;
    c.read(r, wait_ms, method == "HEAD");
    return r;
}
