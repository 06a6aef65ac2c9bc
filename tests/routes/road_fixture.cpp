#include "road_fixture.h"

#include "test_token.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>

bool wait_until(const std::function<bool()>& done, int wait_ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > wait_ms)
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

loop_client::loop_client(quint16 port)
    : socket_(new QTcpSocket)
{
    socket_->connectToHost(QHostAddress::LocalHost, port);
    wait_until([this] { return connected(); });
}

bool loop_client::connected() const
{
    return socket_->state() == QAbstractSocket::ConnectedState;
}

void loop_client::send(const QByteArray& bytes)
{
    socket_->write(bytes);
}

void loop_client::send_request(const QByteArray& method, const QByteArray& target,
    const QList<QPair<QByteArray, QByteArray>>& headers, const QByteArray& body)
{
    QByteArray bytes = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const auto& header : headers)
        bytes += header.first + ": " + header.second + "\r\n";
    if (!body.isEmpty() || method == "POST" || method == "PUT")
        bytes += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    send(bytes + "\r\n" + body);
}

bool loop_client::read(raw_response& out, int wait_ms, bool head)
{
    out = raw_response();
    int end = -1;
    auto pull = [this] {
        buffer_ += socket_->readAll();
        return true;
    };
    if (!wait_until(
            [&] {
                pull();
                end = buffer_.indexOf("\r\n\r\n");
                return end >= 0;
            },
            wait_ms))
        return false;
    const QList<QByteArray> lines = buffer_.left(end).split('\n');
    buffer_.remove(0, end + 4);
    out.status = lines.value(0).trimmed().split(' ').value(1).toInt();
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const int colon = line.indexOf(':');
        if (colon > 0)
            out.headers.append({ line.left(colon), line.mid(colon + 1).trimmed() });
    }
    if (head)
        return true;
    const int length = out.header("content-length").toInt();
    if (!wait_until(
            [&] {
                pull();
                return buffer_.size() >= length;
            },
            wait_ms))
        return false;
    out.body = buffer_.left(length);
    buffer_.remove(0, length);
    return true;
}

raw_response road_fixture::request(const QByteArray& method, const QByteArray& target,
    const QList<QPair<QByteArray, QByteArray>>& headers, const QByteArray& body, int wait_ms)
{
    loop_client client(port());
    client.send_request(method, target, headers, body);
    raw_response answer;
    client.read(answer, wait_ms, method == "HEAD");
    return answer;
}

void road_fixture::restrict_callers_to_their_keys()
{
    conf.CHECK_TOKEN_VALID = false;
    conf.CHECK_TOKEN_EXP_TIME = false;
    conf.CHECK_TOKEN_CLAIMS = false;
    conf.CHECK_TOKEN_API_KEY = true;
}

QList<QPair<QByteArray, QByteArray>> road_fixture::restricted_user()
{
    const QJsonObject claims { { "ver", "2.0" }, { "email", "u@x" },
        { "apiKeys", QJsonArray { "k" } },
        { "claims", QJsonObject { { "b", QJsonObject { { "user", "" } } } } } };
    return { { "Authorization", "Bearer " + make_token(claims, "sign") } };
}

bool road_fixture::command_or_answer(const QByteArray& method, const QByteArray& target,
    const QList<QPair<QByteArray, QByteArray>>& headers, const QByteArray& body,
    raw_response& answer)
{
    api.commands.clear();
    loop_client client(port());
    client.send_request(method, target, headers, body);
    EXPECT_TRUE(
        wait_until([&] { return !api.commands.empty() || client.socket()->bytesAvailable() > 0; }));
    if (!api.commands.empty())
        return true;
    EXPECT_TRUE(client.read(answer));
    return false;
}

QByteArray road_fixture::log_text() const
{
    QFile file(dir.filePath("road.log"));
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

request_record road_fixture::newest(const QString& email) const
{
    return statistics.value(email).history.value(0);
}
