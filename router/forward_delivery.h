#pragma once

#include "router/handler_result.h"
#include "router/statistic.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <memory>

class logger;

namespace qhttp {
namespace server {
class QHttpResponse;
}
} // namespace qhttp

// What a forward needs of the request it answers.
struct forward_context
{
    QPointer<qhttp::server::QHttpResponse> response;
    std::shared_ptr<std::atomic<bool>> request_gone;
    QPointer<QObject> request;
    QObject* parent = nullptr;
    logger* log = nullptr;
    statistic_map* statistics = nullptr;
    QString email;
    QString uuid;
};

// Sends the request to its target, once, on a connection of its own, and relays the answer
// without the headers that concern either connection. A target that cannot be connected to
// within 1000 ms, refuses, drops the connection before its answer is complete, makes no
// progress for 60 s (neither takes the request nor sends the answer), answers with a body
// longer than a request body may be, or with a status the gateway cannot relay, is answered 408
// with an empty body. The client is
// released after the relay, after a failure, or as soon as the incoming request goes away,
// whichever comes first.
void start_forward(const HttpForwardAsycResult& forward, const forward_context& context);

// Shortens the 60 s a forward may go without progress; for tests. 0 keeps it.
void set_forward_stall_ms(int ms);
