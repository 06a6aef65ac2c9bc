#include "router/sync_async_visitor.h"

#include "amqp/command_client.h"
#include "app/logger.h"
#include "http/qhttp_server.h"
#include "router/forward_delivery.h"
#include "router/gzip.h"
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

} // namespace

bool sync_async_visitor::gone() const
{
    return !can_write(response, request_gone);
}

void sync_async_visitor::send_sync_answer(const HttpSyncResult& result) const
{
    if (!result.msg_type.isEmpty()) {
        api_man->send_cmd_forward(result.msg_type, result.data, result.routing_key);
        // A publish may wait for the broker in a nested event loop, and the client may have
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

void sync_async_visitor::operator()(const AsyncRabbitResult& result) const
{
    const response_ptr target = response;
    const auto flag = request_gone;
    const QString caller = email;
    const QString id = uuid;
    statistic_map* stats = statistics;
    logger* out = log;

    auto on_reply = [result, target, flag, caller, id, stats, out](QJsonDocument reply) -> bool {
        QJsonDocument document = reply;
        // An empty post-processor throws here, back into the AMQP link.
        const bool complete = result._postProcess(document);
        if (complete && can_write(target, flag))
            send_json_answer(target, document, caller, id, *stats, *out);
        return complete;
    };
    auto on_error = [target, flag](QString text) {
        if (!can_write(target, flag))
            return;
        target->setStatusCode(500);
        target->end(text.toUtf8());
    };
    api_man->send_cmd(result.command, result.data, result.routing_key, on_reply, on_error, 0);
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
