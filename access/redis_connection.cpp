#include "access/redis_connection.h"

#include <algorithm>
#include <cerrno>
#include <hiredis/hiredis.h>
#include <vector>

namespace RedisClient {

namespace {

timeval to_timeval(int ms)
{
    timeval tv;
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    return tv;
}

Reply convert(const redisReply* r)
{
    Reply out;
    switch (r->type) {
    case REDIS_REPLY_INTEGER:
        out.type = Reply::Integer;
        out.integer = r->integer;
        break;
    case REDIS_REPLY_STRING:
        out.type = Reply::String;
        out.str = QByteArray(r->str, static_cast<int>(r->len));
        break;
    case REDIS_REPLY_STATUS:
        out.type = Reply::Status;
        out.str = QByteArray(r->str, static_cast<int>(r->len));
        break;
    case REDIS_REPLY_ERROR:
        out.type = Reply::Error;
        out.str = QByteArray(r->str, static_cast<int>(r->len));
        break;
    case REDIS_REPLY_ARRAY:
        out.type = Reply::Array;
        out.elements.reserve(static_cast<int>(r->elements));
        for (size_t i = 0; i < r->elements; ++i)
            out.elements.append(convert(r->element[i]));
        break;
    default:
        out.type = Reply::Nil;
        break;
    }
    return out;
}

} // namespace

Connection::Connection(const redis_settings& settings, int execution_timeout_ms)
    : settings_(settings)
    , timeout_ms_(execution_timeout_ms)
{
    if (settings_.HOST.isEmpty())
        settings_.HOST = QStringLiteral("127.0.0.1");
}

Connection::~Connection()
{
    drop();
}

bool Connection::isConnected() const
{
    return ctx_ != nullptr && ctx_->err == 0;
}

std::string Connection::endpoint() const
{
    return settings_.HOST.toStdString() + ":" + std::to_string(settings_.PORT);
}

void Connection::drop()
{
    if (ctx_)
        redisFree(ctx_);
    ctx_ = nullptr;
    selected_db_ = -1;
}

void Connection::connect()
{
    drop();
    const QByteArray host = settings_.HOST.toLatin1();
    ctx_ = redisConnectWithTimeout(
        host.constData(), static_cast<int>(settings_.PORT), to_timeval(timeout_ms_));
    if (ctx_ == nullptr)
        throw Exception("Cannot connect to Redis at " + endpoint() + ": out of memory");
    if (ctx_->err) {
        const std::string reason = ctx_->errstr;
        drop();
        throw Exception("Cannot connect to Redis at " + endpoint() + ": " + reason);
    }
    if (redisSetTimeout(ctx_, to_timeval(timeout_ms_)) != REDIS_OK) {
        drop();
        throw Exception("Cannot set the Redis command time-out for " + endpoint());
    }
    selected_db_ = 0;
    if (!settings_.AUTH.isEmpty()) {
        try {
            run_ok({ "AUTH", settings_.AUTH.toLatin1() });
        } catch (const Exception& e) {
            drop();
            throw Exception(std::string("Redis authentication failed: ") + e.what());
        }
    }
}

void Connection::fail_dead_context(const QByteArray& command_name, int call_errno)
{
    std::string reason;
    if (ctx_ && ctx_->err == REDIS_ERR_IO && (call_errno == EAGAIN || call_errno == EWOULDBLOCK))
        reason = "timed out after " + std::to_string(timeout_ms_) + " ms";
    else if (ctx_ && ctx_->err)
        reason = ctx_->errstr;
    else
        reason = "no reply";
    // hiredis leaves a context unusable after any I/O error or time-out; the next command
    // connects again.
    drop();
    throw Exception(
        "Redis " + command_name.toStdString() + " at " + endpoint() + " failed: " + reason);
}

void Connection::append(const QList<QByteArray>& args)
{
    std::vector<const char*> argv;
    std::vector<size_t> argvlen;
    argv.reserve(static_cast<size_t>(args.size()));
    argvlen.reserve(static_cast<size_t>(args.size()));
    for (const QByteArray& a : args) {
        argv.push_back(a.constData());
        argvlen.push_back(static_cast<size_t>(a.size()));
    }
    errno = 0;
    if (redisAppendCommandArgv(ctx_, static_cast<int>(argv.size()), argv.data(), argvlen.data())
        != REDIS_OK)
        fail_dead_context(args.first(), errno);
}

Reply Connection::read_reply(const QByteArray& command_name)
{
    errno = 0;
    void* raw = nullptr;
    if (redisGetReply(ctx_, &raw) != REDIS_OK || raw == nullptr)
        fail_dead_context(command_name, errno);
    redisReply* r = static_cast<redisReply*>(raw);
    Reply reply = convert(r);
    freeReplyObject(r);
    return reply;
}

Reply Connection::run(const QList<QByteArray>& args)
{
    append(args);
    return read_reply(args.first());
}

void Connection::run_ok(const QList<QByteArray>& args)
{
    const Reply reply = run(args);
    if (reply.type == Reply::Error)
        throw Exception(args.first().toStdString() + ": " + reply.str.toStdString());
}

void Connection::prepare(int db)
{
    if (!isConnected())
        connect();
    if (db != selected_db_) {
        run_ok({ "SELECT", QByteArray::number(db) });
        selected_db_ = db;
    }
}

Reply Connection::command(const QList<QByteArray>& args, int db)
{
    if (args.isEmpty())
        throw Exception("empty Redis command");
    prepare(db);
    return run(args);
}

QList<Reply> Connection::pipeline(const QList<QList<QByteArray>>& commands, int db)
{
    QList<Reply> replies;
    if (commands.isEmpty())
        return replies;
    for (const QList<QByteArray>& args : commands) {
        if (args.isEmpty())
            throw Exception("empty Redis command");
    }
    prepare(db);
    for (const QList<QByteArray>& args : commands)
        append(args);
    replies.reserve(commands.size());
    for (const QList<QByteArray>& args : commands)
        replies.append(read_reply(args.first()));
    return replies;
}

void Connection::pipeline(
    qint64 count, int db, int batch, const command_maker& make, const reply_taker& take)
{
    batch = std::max(batch, 1);
    QList<QList<QByteArray>> commands;
    for (qint64 first = 0; first < count; first += batch) {
        const int size = int(std::min<qint64>(batch, count - first));
        commands.clear();
        commands.reserve(size);
        for (int i = 0; i < size; ++i)
            commands.append(make(first + i));
        const QList<Reply> replies = pipeline(commands, db);
        for (int i = 0; i < size; ++i)
            take(first + i, replies[i]);
    }
}

} // namespace RedisClient
