#include "scripted_redis.h"

#include <arpa/inet.h>
#include <hiredis/hiredis.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

int unused_port()
{
    scripted_redis probe([](const QList<QByteArray>&, int) { return QByteArray(); });
    return probe.port();
}

scripted_redis::scripted_redis(script answer, int port)
    : answer_(std::move(answer))
{
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t len = sizeof addr;
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), len) != 0
        || ::listen(listen_fd_, 8) != 0)
        throw std::runtime_error("scripted_redis cannot listen");
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { serve(); });
}

scripted_redis::~scripted_redis()
{
    stop_ = true;
    thread_.join();
    ::close(listen_fd_);
}

QList<QPair<int, QList<QByteArray>>> scripted_redis::received()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

// Requests are RESP arrays like replies, so hiredis' own reader parses them.
bool scripted_redis::answer_complete_commands(redisReader* reader, int fd, int connection)
{
    void* parsed = nullptr;
    while (redisReaderGetReply(reader, &parsed) == REDIS_OK && parsed) {
        const redisReply* r = static_cast<redisReply*>(parsed);
        QList<QByteArray> command;
        for (size_t i = 0; i < r->elements; ++i)
            command.append(QByteArray(r->element[i]->str, static_cast<int>(r->element[i]->len)));
        freeReplyObject(parsed);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            received_.append({ connection, command });
        }
        const QByteArray reply = answer_(command, connection);
        if (!reply.isEmpty() && ::send(fd, reply.constData(), reply.size(), MSG_NOSIGNAL) < 0)
            return false;
    }
    return true;
}

void scripted_redis::serve()
{
    int client = -1;
    int connection = 0;
    std::unique_ptr<redisReader, void (*)(redisReader*)> reader(nullptr, redisReaderFree);
    while (!stop_) {
        pollfd fds[2] = { { listen_fd_, POLLIN, 0 }, { client, POLLIN, 0 } };
        if (::poll(fds, client >= 0 ? 2 : 1, 20) <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            // The client reconnects only after giving up its old connection.
            if (client >= 0)
                ::close(client);
            client = ::accept(listen_fd_, nullptr, nullptr);
            ++connection;
            reader.reset(redisReaderCreate());
            continue;
        }
        char chunk[65536];
        const ssize_t n = ::recv(client, chunk, sizeof chunk, 0);
        if (n <= 0 || redisReaderFeed(reader.get(), chunk, static_cast<size_t>(n)) != REDIS_OK
            || !answer_complete_commands(reader.get(), client, connection)) {
            ::close(client);
            client = -1;
        }
    }
    if (client >= 0)
        ::close(client);
}
