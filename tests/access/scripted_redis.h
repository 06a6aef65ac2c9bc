#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

struct redisReader;

// A Redis stand-in on a loopback port, served from its own thread because the client blocks.
// The script answers each command with raw reply bytes; an empty answer stays silent.
class scripted_redis
{
public:
    using script = std::function<QByteArray(const QList<QByteArray>& command, int connection)>;

    explicit scripted_redis(script answer, int port = 0);
    ~scripted_redis();
    scripted_redis(const scripted_redis&) = delete;
    scripted_redis& operator=(const scripted_redis&) = delete;

    int port() const { return port_; }
    // Every command so far, with the number (from 1) of the connection it came on.
    QList<QPair<int, QList<QByteArray>>> received();

private:
    void serve();
    bool answer_complete_commands(redisReader* reader, int fd, int connection);

    script answer_;
    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_ { false };
    std::mutex mutex_;
    QList<QPair<int, QList<QByteArray>>> received_;
    std::thread thread_;
};

// A loopback port on which nothing listens (for the moment).
int unused_port();
