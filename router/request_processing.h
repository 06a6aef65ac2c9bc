#pragma once

#include "app/global_conf.h"
#include "router/handler_result.h"
#include "router/http_context.h"
#include "router/statistic.h"

#include <QPointer>
#include <QString>
#include <QUrl>
#include <atomic>
#include <exception>
#include <memory>

class command_client;
class http_exception;
class logger;

namespace qhttp {
namespace server {
class QHttpRequest;
class QHttpResponse;
} // namespace server
} // namespace qhttp

// Marks the request gone, and says so at DEBUG, when it is destroyed: it lives in the request's
// router, which the request takes with it. Does nothing until armed, so a request whose body
// never completed leaves no line.
class request_gone_notice
{
public:
    request_gone_notice() = default;
    request_gone_notice(request_gone_notice&& other) noexcept;
    request_gone_notice& operator=(request_gone_notice&&) = delete;
    ~request_gone_notice();

    void arm(std::shared_ptr<std::atomic<bool>> gone, logger& log);

private:
    std::shared_ptr<std::atomic<bool>> gone_;
    logger* log_ = nullptr;
};

// One run of a request's processing, once its body is complete: everything of it that does not
// depend on the handler set. It copies what it needs, so it stays usable after a call that may
// re-enter the event loop has destroyed the request and its router.
class request_processing
{
public:
    request_processing(qhttp::server::QHttpRequest* request, qhttp::server::QHttpResponse* response,
        HttpContext context, std::shared_ptr<const global_conf> conf, logger& log,
        statistic_map& statistics, command_client& api_man, QObject* parent);

    // Opens the statistics record, writes the access and token lines and arms `notice`, which
    // goes with the request, to tell when the request has gone.
    void open(request_gone_notice& notice);
    // The request path, fully decoded, as the route table matches it.
    const QString& path() const { return path_; }
    // Validity, expiry, ban and rights for a handler that needs a token; throws on refusal.
    void enforce_token_rules(const QString& handler_path);
    // The context handlers are built with (the narrowed API keys of a "3.0" token included).
    const HttpContext& context() const { return context_; }
    logger& log() const { return log_; }
    bool request_gone() const { return gone_->load() || !request_; }

    // Answers from the handler's result, unless the request has gone meanwhile.
    void deliver(HandlerResult result);
    // Answers a failure of the guarded part, unless the request has gone or is answered.
    void fail(const std::exception_ptr& failure);
    void fail(const http_exception& failure);

private:
    bool can_answer() const;

    QPointer<qhttp::server::QHttpRequest> request_;
    QPointer<qhttp::server::QHttpResponse> response_;
    HttpContext context_;
    std::shared_ptr<const global_conf> conf_;
    logger& log_;
    statistic_map& statistics_;
    command_client& api_man_;
    QObject* parent_; // of the forward clients when the AMQP link is no object to own them
    QString url_text_; // as the statistics and the refresh redirect show it
    QString path_;
    std::shared_ptr<std::atomic<bool>> gone_;
    QString uuid_;
};
