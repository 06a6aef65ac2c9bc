#pragma once

#include "router/handler_result.h"
#include "router/statistic.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <memory>

class command_client;
class logger;

namespace qhttp {
namespace server {
class QHttpResponse;
}
} // namespace qhttp

// Turns one handler result into the request's answer. Every callback that may run after the
// request has gone (a reply, an error, a forward's answer) holds the request-gone flag and
// checks it, and the response pointer, before it writes anything.
struct sync_async_visitor
{
    QPointer<qhttp::server::QHttpResponse> response;
    command_client* api_man = nullptr;
    logger* log = nullptr;
    statistic_map* statistics = nullptr;
    QString email;
    QString uuid;
    // The request's path: a command refused for its size names it in the log.
    QString path;
    std::shared_ptr<std::atomic<bool>> request_gone;
    // A forward's client is released as soon as this goes away.
    QPointer<QObject> request;
    // Owns the forward clients until they are released.
    QObject* forward_parent = nullptr;

    void operator()(const HttpSyncResult& result) const { send_sync_answer(result); }
    void operator()(AsyncRabbitResult&& result) const;
    void operator()(const HttpForwardAsycResult& result) const;

    void send_sync_answer(const HttpSyncResult& result) const;
    bool gone() const;
};
