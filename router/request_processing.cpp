#include "router/request_processing.h"

#include "amqp/command_client.h"
#include "app/heap_trim.h"
#include "app/logger.h"
#include "http/qhttp_server.h"
#include "router/error_answer.h"
#include "router/http_exception.h"
#include "router/request_id.h"
#include "router/statistics.h"
#include "router/sync_async_visitor.h"
#include "router/token_rules.h"
#include "router/url_text.h"

#include <QDateTime>
#include <QHash>
#include <QJsonDocument>
#include <QThread>
#include <variant>

namespace {

// The method's name as text; the few there are are made once each.
const QString& method_text(const qhttp::server::QHttpRequest& request)
{
    thread_local QHash<int, QString> names;
    auto found = names.constFind(int(request.method()));
    if (found == names.constEnd())
        found = names.insert(int(request.method()), QString::fromLatin1(request.methodString()));
    return found.value();
}

} // namespace

request_processing::request_processing(qhttp::server::QHttpRequest* request,
    qhttp::server::QHttpResponse* response, HttpContext context,
    std::shared_ptr<const global_conf> conf, logger& log, statistic_map& statistics,
    command_client& api_man, QObject* parent)
    : request_(request)
    , response_(response)
    , context_(std::move(context))
    , conf_(std::move(conf))
    , log_(log)
    , statistics_(statistics)
    , api_man_(api_man)
    , parent_(parent)
    , gone_(std::make_shared<std::atomic<bool>>(false))
    , uuid_(make_request_id())
{
    url_texts texts = texts_of(request->url());
    url_text_ = std::move(texts.text);
    path_ = std::move(texts.path);
}

request_gone_notice::request_gone_notice(request_gone_notice&& other) noexcept
    : gone_(std::move(other.gone_))
    , log_(other.log_)
{ }

request_gone_notice::~request_gone_notice()
{
    if (!gone_)
        return;
    gone_->store(true);
    log_line(*log_, LOG_DEBUG) << "Request destroyed and response canceled";
}

void request_gone_notice::arm(std::shared_ptr<std::atomic<bool>> gone, logger& log)
{
    gone_ = std::move(gone);
    log_ = &log;
}

void request_processing::open(request_gone_notice& notice)
{
    open_request_record(statistics_, context_.email, uuid_, url_text_, clock_reading::now(),
        conf_->STATISTIC_HISTORY_LENGTH);

    // The DEBUG lines below are composed only when they are written.
    const bool debug = log_.accepts(LOG_DEBUG);
    if (debug) {
        // One multi-argument arg(): a "%5" inside the URL must not be taken for a placeholder.
        log_line(log_, LOG_DEBUG) << QStringLiteral(
            "%6 From %1:%2 method: %3 url: %4 handled by: %5")
                                         .arg(request_->remoteAddress(),
                                             QString::number(request_->remotePort()),
                                             method_text(*request_), url_text_,
                                             QString::number(quintptr(QThread::currentThreadId())),
                                             uuid_);
    }

    // The flag outlives the request: callbacks still pending then find it set.
    notice.arm(gone_, log_);

    if (!debug)
        return;
    if (context_.token_valid) {
        const QByteArray claims = context_.token_parts.value(1).toJson(QJsonDocument::Compact);
        log_line(log_, LOG_DEBUG)
            << QStringLiteral("%1 Token: %2").arg(uuid_, QString::fromUtf8(claims));
    } else {
        log_line(log_, LOG_DEBUG) << "Token is invalid";
    }
}

void request_processing::enforce_token_rules(const QString& handler_path)
{
    token_rule_request request;
    request.handler_path = handler_path;
    request.method = request_ ? method_text(*request_) : QString();
    request.url = url_text_;
    request.uuid = uuid_;
    request.now = QDateTime::currentDateTimeUtc();
    ::enforce_token_rules(context_, *conf_, statistics_, request);
}

void request_processing::deliver(HandlerResult result)
{
    if (request_gone() || !response_)
        return;
    // The handler has read the body; what it keeps of it is in the result. What it made of a
    // large one is freed by now, though the answer may be long in coming.
    heap_trim::after_work(request_->collectedData().size());
    request_->dropCollectedData();
    sync_async_visitor visitor;
    visitor.response = response_;
    visitor.api_man = &api_man_;
    visitor.log = &log_;
    visitor.statistics = &statistics_;
    visitor.email = context_.email;
    visitor.uuid = uuid_;
    visitor.path = path_;
    visitor.request_gone = gone_;
    visitor.request = request_.data();
    // Forward clients belong to the process-wide AMQP link object, as long-lived as anything;
    // looked up only for a forward, the one result that needs it.
    if (std::holds_alternative<HttpForwardAsycResult>(result)) {
        auto* link = dynamic_cast<QObject*>(&api_man_);
        visitor.forward_parent = link ? link : parent_;
    }
    // Moved on: a command's data goes into its message without a copy of its own.
    std::visit(visitor, std::move(result));
}

bool request_processing::can_answer() const
{
    return !request_gone() && response_ && !response_->isDone();
}

void request_processing::fail(const std::exception_ptr& failure)
{
    if (can_answer())
        answer_failure(response_, log_, failure);
}

void request_processing::fail(const http_exception& failure)
{
    if (can_answer())
        answer_failure(response_, log_, failure);
}
