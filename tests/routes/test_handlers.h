#pragma once

#include "access/redis_connection.h"
#include "app/dependency_container.h"
#include "router/handler_result.h"
#include "router/http_exception.h"
#include "routes/api_params.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <array>
#include <memory>
#include <stdexcept>

// Handlers that exist only to drive the road from the outside.

inline QJsonValue optional_text(const api_params& params, const char* key)
{
    const auto value = params.value(key);
    return value ? QJsonValue(*value) : QJsonValue();
}

// Serves GET and POST; answers with what it was given.
class EchoHandler
{
public:
    static constexpr const char* handler_path = "/t/echo";
    static constexpr bool need_token = false;
    static constexpr std::array<const char*, 3> param_keys { "a", "b", "route_key" };
    explicit EchoHandler(const request_container&) { }
    HandlerResult get(const api_params& params) { return answer("get", params); }
    HandlerResult post(const api_params& params) { return answer("post", params); }

private:
    static HandlerResult answer(const char* operation, const api_params& params)
    {
        const QJsonObject echo { { "op", operation }, { "a", optional_text(params, "a") },
            { "b", optional_text(params, "b") }, { "route", params.route_key("default") },
            { "body", QString::fromUtf8(params.body()) }, { "leftover", params.leftover() } };
        HttpSyncResult result;
        result.status = 200;
        result.headers["content-type"] = "application/json";
        result.body = QJsonDocument(echo).toJson(QJsonDocument::Compact);
        return result;
    }
};

// Stands after "/t/echo", of which its path is a prefix.
class ShortPrefixHandler
{
public:
    static constexpr const char* handler_path = "/t/e";
    static constexpr bool need_token = false;
    explicit ShortPrefixHandler(const request_container&) { }
    HandlerResult get(const api_params&) { return HttpSyncResult { 200, {}, "short", {}, {}, {} }; }
};

// Serves GET only.
class GetOnlyHandler
{
public:
    static QString handler_path() { return QStringLiteral("/t/get"); }
    static constexpr bool need_token = false;
    explicit GetOnlyHandler(const request_container&) { }
    HandlerResult get(const api_params&) { return HttpSyncResult { 200, {}, "got", {}, {}, {} }; }
};

// A ready answer with the "content-encoding" the query names, and a fire-and-forget command
// when the query names one.
class ReadyHandler
{
public:
    static constexpr const char* handler_path = "/t/ready";
    static constexpr bool need_token = false;
    static constexpr std::array<const char*, 3> param_keys { "enc", "cmd", "empty" };
    explicit ReadyHandler(const request_container&) { }
    HandlerResult get(const api_params& params)
    {
        HttpSyncResult result;
        result.status = 201;
        if (params.has("enc"))
            result.headers["content-encoding"] = params.text("enc");
        result.headers["x-b"] = "2";
        result.headers["X-A"] = "1";
        result.msg_type = params.text("cmd");
        result.data = QJsonObject { { "k", "v" } };
        result.routing_key = "fire.key";
        if (!params.has("empty"))
            result.body = body();
        return result;
    }
    static QByteArray body() { return QByteArray("ready answer, ready answer, ready answer"); }
};

// An AMQP command that completes at the reply numbered by the query's "n", answering with
// the number of replies it has seen. "fail" makes its post-processor throw that text, or
// leaves it empty when it is "empty".
class RabbitHandler : public std::enable_shared_from_this<RabbitHandler>
{
public:
    static constexpr const char* handler_path = "/t/rabbit";
    static constexpr bool need_token = false;
    static constexpr std::array<const char*, 3> param_keys { "n", "route_key", "fail" };
    explicit RabbitHandler(const request_container&) { }
    HandlerResult get(const api_params& params)
    {
        AsyncRabbitResult result;
        result.command = "count";
        result.data = QJsonObject { { "n", params.text("n") } };
        result.routing_key = params.route_key("cmd.test");
        const int needed = params.text("n").toInt();
        auto self = shared_from_this();
        result._postProcess = [self, needed](QJsonDocument& reply) {
            ++self->replies_;
            reply = QJsonDocument(
                QJsonObject { { "replies", self->replies_ }, { "last", reply.object() } });
            return self->replies_ >= needed;
        };
        const QString fail = params.text("fail");
        if (fail == "empty")
            result._postProcess = nullptr;
        else if (!fail.isEmpty())
            result._postProcess
                = [fail](QJsonDocument&) -> bool { throw std::runtime_error(fail.toStdString()); };
        return result;
    }

private:
    int replies_ = 0;
};

// An AMQP command whose data carries a ready text; the text and the request's body are kept
// here too, so that a test can tell whether anything else still holds them.
class KeptTextHandler
{
public:
    static constexpr const char* handler_path = "/t/kept";
    static constexpr bool need_token = false;
    explicit KeptTextHandler(const request_container&) { }
    HandlerResult post(const api_params& params)
    {
        body() = params.body();
        AsyncRabbitResult result;
        result.command = "kept";
        result.data = QJsonObject { { "n", 1 } };
        result.data.insert_ready("text", text());
        result.routing_key = "cmd.test";
        return result;
    }
    static QByteArray& body()
    {
        static QByteArray seen;
        return seen;
    }
    static const QByteArray& text()
    {
        static const QByteArray ready = QByteArray("\"ready\"");
        return ready;
    }
};

// Fails the way the query says.
class ThrowHandler
{
public:
    static constexpr const char* handler_path = "/t/throw";
    static constexpr bool need_token = false;
    static constexpr std::array<const char*, 1> param_keys { "kind" };
    explicit ThrowHandler(const request_container&) { }
    HandlerResult get(const api_params& params)
    {
        const QString kind = params.text("kind");
        if (kind == "teapot")
            throw http_exception("short and stout", 418);
        if (kind == "redirect")
            throw http_exception("go there", 307, "/there?x=1");
        if (kind == "redis")
            throw RedisClient::Connection::Exception("connection refused");
        throw std::logic_error("anything else");
    }
};

// Needs a token; answers with the API keys it was built with.
class KeysHandler
{
public:
    static constexpr const char* handler_path = "/t/keys";
    static constexpr bool need_token = true;
    explicit KeysHandler(const request_container& container)
        : keys_(container.context.api_keys)
    { }
    HandlerResult get(const api_params&)
    {
        return HttpSyncResult { 200, {},
            QJsonDocument(QJsonArray::fromStringList(keys_)).toJson(QJsonDocument::Compact), {}, {},
            {} };
    }

private:
    QStringList keys_;
};
