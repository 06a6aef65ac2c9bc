#pragma once

#include "app/settings_records.h"

#include <QByteArray>
#include <QList>
#include <functional>
#include <stdexcept>
#include <string>

struct redisContext;

namespace RedisClient {

// A reply, converted out of hiredis so callers never hold library memory.
struct Reply
{
    enum Type { Nil, Integer, String, Status, Error, Array } type = Nil;
    long long integer = 0;
    QByteArray str; // String, Status and Error replies
    QList<Reply> elements;
};

// A synchronous Redis connection on hiredis. Blocking is by design: the access store
// waits for its replies on the event-loop thread, bounded by the execution time-out.
class Connection
{
public:
    // Raised for a connection that cannot be made or a command that times out or gets no
    // reply; the request road answers it 400 "Redis exception: %1".
    class Exception : public std::runtime_error
    {
    public:
        explicit Exception(const std::string& what)
            : std::runtime_error(what)
        { }
    };

    // execution_timeout_ms bounds both the connect and every single command.
    explicit Connection(const redis_settings& settings, int execution_timeout_ms = 60000);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool isConnected() const;
    // Connects (AUTH when a password is set); throws Exception on failure.
    void connect();
    // Runs one command on database `db` (SELECT as needed) and returns its reply, an error
    // reply included: what an error means is the caller's to say. Throws Exception when the
    // command cannot be run, or when AUTH or SELECT is refused. A connection left dead by an
    // earlier failure is made again first.
    Reply command(const QList<QByteArray>& args, int db);
    using command_maker = std::function<QList<QByteArray>(qint64 index)>;
    using reply_taker = std::function<void(qint64 index, const Reply& reply)>;
    // Runs `count` commands on database `db`, at most `batch` to a round trip: `make(i)` gives
    // the i-th command when its round trip is written, `take(i, reply)` is handed its reply, in
    // order. The server sees the commands one pipeline would send, in the same order; only one
    // round trip's commands and replies are held at a time. Fails as `command` does, which ends
    // the round trips there.
    void pipeline(
        qint64 count, int db, int batch, const command_maker& make, const reply_taker& take);

private:
    // One round trip of several commands on database `db`: all are written, then the replies
    // are read in order, one per command.
    QList<Reply> pipeline(const QList<QList<QByteArray>>& commands, int db);
    void prepare(int db);
    void append(const QList<QByteArray>& args);
    Reply read_reply(const QByteArray& command_name);
    Reply run(const QList<QByteArray>& args);
    // run() for the connection's own commands, whose error reply is a failure.
    void run_ok(const QList<QByteArray>& args);
    [[noreturn]] void fail_dead_context(const QByteArray& command_name, int call_errno);
    std::string endpoint() const;
    void drop();

    redis_settings settings_;
    int timeout_ms_;
    redisContext* ctx_ = nullptr;
    int selected_db_ = -1;
};

} // namespace RedisClient
