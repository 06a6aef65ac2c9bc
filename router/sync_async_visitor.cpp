#include "router/sync_async_visitor.h"

#include "access/redis_connection.h"
#include "amqp/command_client.h"
#include "app/logger.h"
#include "http/qhttp_server.h"
#include "router/error_answer.h"
#include "router/forward_delivery.h"
#include "router/gzip.h"
#include "router/http_exception.h"
#include "router/statistics.h"

#include <QJsonDocument>

namespace {

using response_ptr = QPointer<qhttp::server::QHttpResponse>;

bool can_write(const response_ptr& response, const std::shared_ptr<std::atomic<bool>>& gone)
{
    return !gone->load() && response && !response->isDone();
}

void send_json_answer(qhttp::server::QHttpResponse* response, const QJsonDocument& document,
    const QString& email, const QString& uuid, statistic_map& statistics, logger& log)
{
    request_done(email, uuid, statistics, log);
    response->setStatusCode(200);
    static const QByteArray content_type = QByteArrayLiteral("content-type");
    static const QByteArray json_type = QByteArrayLiteral("application/json");
    response->addHeader(content_type, json_type);
    response->end(document.toJson(QJsonDocument::Compact));
}

// Runs `send`, which hands a command to the link. A command the link never takes is answered as
// a body over the HTTP layer's limit is, 413, and logged with the route: its size grows with the
// request, so the caller is the one who can mend it.
template <class Send>
void send_command(logger& log, const QString& path, const QString& type, Send&& send)
{
    try {
        send();
    } catch (const command_too_large& e) {
        log_line(log, LOG_ERROR) << "Request " << path << " refused: its command " << type << " is "
                                 << QString::number(e.size())
                                 << " bytes, more than the AMQP link takes ("
                                 << QString::number(e.limit()) << ")";
        throw http_exception(QStringLiteral("Request body too large"), 413);
    }
}

} // namespace

bool sync_async_visitor::gone() const
{
    return !can_write(response, request_gone);
}

void sync_async_visitor::send_sync_answer(const HttpSyncResult& result) const
{
    if (!result.msg_type.isEmpty()) {
        send_command(*log, path, result.msg_type,
            [&] { api_man->send_cmd_forward(result.msg_type, result.data, result.routing_key); });
        // The command client may run other work before it returns, and the client may have
        // gone away meanwhile.
        if (gone())
            return;
    }
    response->setStatusCode(int(result.status));
    for (auto it = result.headers.begin(); it != result.headers.end(); ++it)
        response->addHeader(it.key().toLatin1(), it.value().toUtf8());
    if (response->headers().value("content-encoding") == "gzip")
        response->end(gzip_encode(result.body, 9));
    else
        response->end(result.body);
    request_done(email, uuid, *statistics, *log);
}

void sync_async_visitor::operator()(AsyncRabbitResult&& result) const
{
    const response_ptr target = response;
    const auto flag = request_gone;
    const QString caller = email;
    const QString id = uuid;
    statistic_map* stats = statistics;
    logger* out = log;
    // What the reply step needs, and not the data: a command may wait half an hour for its
    // reply, and its data can be as large as the request's body.
    const QString command = result.command;
    const auto post_process = std::move(result._postProcess);

    auto on_error = [target, flag](QString text) {
        if (!can_write(target, flag))
            return;
        target->setStatusCode(500);
        target->end(text.toUtf8());
    };
    auto on_reply = [command, post_process, target, flag, caller, id, stats, out, on_error](
                        QJsonDocument reply) -> bool {
        QJsonDocument document = reply;
        bool complete = false;
        // A post-processor that throws (an empty one included) fails its command: the caller is
        // answered now, and the exception goes on to the link, which rejects the reply and
        // drops the command and its timer.
        const auto failed = [&](const QString& failure) {
            log_line(*out, LOG_ERROR) << "reply of command " << command << " failed: " << failure;
            on_error(failure);
        };
        try {
            complete = post_process(document);
        } catch (const RedisClient::Connection::Exception& e) {
            // The access store failed under a reply step: answered as the same failure is on
            // the request road, 400 "Redis exception: ...".
            log_line(*out, LOG_ERROR) << "reply of command " << command << " failed: " << e.what();
            if (can_write(target, flag))
                answer_failure(target, *out, std::current_exception());
            throw;
        } catch (const std::exception& e) {
            failed(QString::fromUtf8(e.what()));
            throw;
        } catch (...) {
            failed(QStringLiteral("reply processing failed"));
            throw;
        }
        if (complete && can_write(target, flag))
            send_json_answer(target, document, caller, id, *stats, *out);
        return complete;
    };
    send_command(*out, path, command, [&] {
        api_man->send_cmd(result.command, std::move(result.data), result.routing_key,
            std::move(on_reply), std::move(on_error), 0);
    });
}

void sync_async_visitor::operator()(const HttpForwardAsycResult& result) const
{
    forward_context context;
    context.response = response;
    context.request_gone = request_gone;
    context.request = request;
    context.parent = forward_parent;
    context.log = log;
    context.statistics = statistics;
    context.email = email;
    context.uuid = uuid;
    start_forward(result, context);
}
