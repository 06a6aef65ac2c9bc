#include "http_test_support.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace http_test {

bool wait_until(const std::function<bool()>& pred, int wait_ms)
{
    // pred() may consume what it finds, so it is not asked again once it has said yes.
    bool done = pred();
    if (done)
        return true;
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        // Ticks may still come from a nested loop of the code under test after quit().
        if (!done)
            done = pred();
        if (done || clock.elapsed() >= wait_ms)
            loop.quit();
    });
    tick.start(1);
    loop.exec();
    return done;
}

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

peer::peer(quint16 port)
    : sock_(new QTcpSocket)
{
    sock_->connectToHost(QStringLiteral("127.0.0.1"), port);
    wait_until([this] { return connected(); });
}

bool peer::connected() const
{
    return sock_->state() == QAbstractSocket::ConnectedState;
}

void peer::send(const QByteArray& bytes)
{
    sock_->write(bytes);
    sock_->flush();
}

bool peer::parse(raw_response& out, bool head)
{
    const int end = buf_.indexOf("\r\n\r\n");
    if (end < 0)
        return false;
    raw_response r;
    const QList<QByteArray> lines = buf_.left(end).split('\n');
    r.status = lines.value(0).trimmed().split(' ').value(1).toInt();
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const int colon = line.indexOf(':');
        if (colon > 0)
            r.headers.append({ line.left(colon), line.mid(colon + 1).trimmed() });
    }
    int length = 0;
    if (!head && r.status >= 200 && r.status != 204 && r.status != 304)
        length = r.header("content-length").toInt();
    if (buf_.size() < end + 4 + length)
        return false;
    r.body = buf_.mid(end + 4, length);
    buf_.remove(0, end + 4 + length);
    out = r;
    return true;
}

bool peer::read(raw_response& out, bool head, int wait_ms)
{
    return wait_until(
        [&] {
            buf_ += sock_->readAll();
            return parse(out, head);
        },
        wait_ms);
}

bool peer::wait_closed(int wait_ms)
{
    return wait_until(
        [&] {
            buf_ += sock_->readAll();
            return sock_->state() == QAbstractSocket::UnconnectedState;
        },
        wait_ms);
}

void peer::abort()
{
    sock_->abort();
}

server::server(const qhttp::server_limits& limits)
{
    http.setLimits(limits);
    http.listen(QHostAddress::LocalHost, 0, [this](auto* request, auto* response) {
        if (handler)
            handler(request, response);
    });
}

qhttp::server::TServerHandler at_end(const answer_fn& answer)
{
    return [answer](qhttp::server::QHttpRequest* request, qhttp::server::QHttpResponse* response) {
        request->collectData(-1);
        QObject::connect(request, &qhttp::server::QHttpRequest::end, request,
            [=] { answer(request, response); });
    };
}

} // namespace http_test
