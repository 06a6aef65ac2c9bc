#include "http_target.h"

#include <QElapsedTimer>
#include <QHash>
#include <QMutexLocker>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <sys/socket.h>

class http_target_worker : public QObject
{
public:
    explicit http_target_worker(http_target& owner)
        : owner_(owner)
    { }

    quint16 listen()
    {
        server_ = new QTcpServer(this);
        server_->listen(QHostAddress::LocalHost, 0);
        connect(server_, &QTcpServer::newConnection, this, [this] { accept(); });
        return server_->serverPort();
    }

private:
    void accept()
    {
        while (QTcpSocket* socket = server_->nextPendingConnection()) {
            http_target::behaviour b;
            {
                QMutexLocker lock(&owner_.mutex_);
                b = owner_.behaviour_;
                ++owner_.open_;
                ++owner_.accepted_;
            }
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                {
                    QMutexLocker lock(&owner_.mutex_);
                    --owner_.open_;
                }
                buffers_.remove(socket);
                socket->deleteLater();
            });
            if (b == http_target::behaviour::close_at_once) {
                socket->disconnectFromHost();
                continue;
            }
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        }
    }

    // The length of the first complete request in `data`, or -1.
    static int complete_length(const QByteArray& data)
    {
        const int head_end = data.indexOf("\r\n\r\n");
        if (head_end < 0)
            return -1;
        const int body_start = head_end + 4;
        const QByteArray head = data.left(head_end).toLower();
        if (head.contains("\r\ntransfer-encoding: chunked")) {
            const int end = data.indexOf("\r\n0\r\n\r\n", body_start - 2);
            return end < 0 ? -1 : end + 7;
        }
        int length = 0;
        for (const QByteArray& line : head.split('\n')) {
            if (line.startsWith("content-length:"))
                length = line.mid(15).trimmed().toInt();
        }
        return data.size() >= body_start + length ? body_start + length : -1;
    }

    void read(QTcpSocket* socket)
    {
        QByteArray& buffer = buffers_[socket];
        buffer += socket->readAll();
        int length;
        while ((length = complete_length(buffer)) >= 0) {
            const QByteArray request = buffer.left(length);
            buffer.remove(0, length);
            http_target::behaviour b;
            QByteArray answer;
            int delay = 0;
            {
                QMutexLocker lock(&owner_.mutex_);
                owner_.requests_.append(request);
                b = owner_.behaviour_;
                answer = owner_.answer_;
                delay = owner_.delay_ms_;
            }
            if (b == http_target::behaviour::endless_answer)
                pour(socket);
            if (b == http_target::behaviour::answer)
                QTimer::singleShot(delay, socket, [socket, answer] { socket->write(answer); });
            if (b == http_target::behaviour::reset_after_answer) {
                reset_after(socket, answer); // the socket and its buffer go
                return;
            }
        }
    }

    // Keeps a megabyte or so in flight: as much as the reader takes, never the whole answer.
    static void pour(QTcpSocket* socket)
    {
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n");
        const QByteArray piece(256 * 1024, 'x');
        auto refill = [socket, piece] {
            while (socket->bytesToWrite() < 4 * piece.size())
                socket->write(piece);
        };
        connect(socket, &QTcpSocket::bytesWritten, socket, refill);
        refill();
    }

    static void reset_after(QTcpSocket* socket, const QByteArray& answer)
    {
        socket->write(answer);
        socket->flush();
        const linger at_once { 1, 0 };
        ::setsockopt(
            int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &at_once, sizeof at_once);
        socket->abort();
    }

    http_target& owner_;
    QTcpServer* server_ = nullptr;
    QHash<QTcpSocket*, QByteArray> buffers_;
};

QByteArray http_target::default_answer()
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 6\r\n\r\ntarget";
}

http_target::http_target()
    : answer_(default_answer())
{
    thread_.start();
    worker_ = new http_target_worker(*this);
    worker_->moveToThread(&thread_);
    QMetaObject::invokeMethod(
        worker_, [this] { port_ = worker_->listen(); }, Qt::BlockingQueuedConnection);
}

http_target::~http_target()
{
    QMetaObject::invokeMethod(
        worker_, [this] { delete worker_; }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

void http_target::script(behaviour b, const QByteArray& answer, int delay_ms)
{
    QMutexLocker lock(&mutex_);
    behaviour_ = b;
    answer_ = answer;
    delay_ms_ = delay_ms;
}

int http_target::accepted_connections() const
{
    QMutexLocker lock(&mutex_);
    return accepted_;
}

QList<QByteArray> http_target::requests() const
{
    QMutexLocker lock(&mutex_);
    return requests_;
}

int http_target::open_connections() const
{
    QMutexLocker lock(&mutex_);
    return open_;
}

namespace {

template <class F>
bool poll(F done, int wait_ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > wait_ms)
            return false;
        QThread::msleep(10);
    }
    return true;
}

} // namespace

bool http_target::wait_requests(int count, int wait_ms) const
{
    return poll([&] { return requests().size() >= count; }, wait_ms);
}

bool http_target::wait_open_connections(int count, int wait_ms) const
{
    return poll([&] { return open_connections() == count; }, wait_ms);
}
