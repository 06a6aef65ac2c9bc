#include "router/forward_handlers.h"

#include "http/qhttp_server.h"
#include "router/http_exception.h"
#include "router/method_not_found.h"

namespace {

forward_rules app_forward()
{
    return forward_rules {};
}

forward_rules sessions_forward()
{
    forward_rules rules;
    rules.to = forward_rules::target::sessions;
    return rules;
}

forward_rules auth_forward(bool scheme_from_request)
{
    forward_rules rules;
    rules.to = forward_rules::target::auth;
    rules.authorisation = true;
    rules.forwards_delete = true;
    rules.scheme_from_request = scheme_from_request;
    return rules;
}

// The target's scheme, host and port as a URL. Checking a host costs more than the rest of the
// URL together, and the targets are few: the URL of the last one is kept and shared.
QUrl target_base(const QString& scheme, const QString& host, int port)
{
    struct last_target
    {
        QString scheme;
        QString host;
        int port = -1;
        QUrl url;
    };
    static thread_local last_target last;
    if (last.url.isEmpty() || last.port != port || last.host != host || last.scheme != scheme) {
        QUrl url;
        url.setScheme(scheme);
        url.setPort(port);
        url.setHost(host, QUrl::DecodedMode);
        last = last_target { scheme, host, port, url };
    }
    return last.url;
}

} // namespace

forward_handler::forward_handler(const request_container& container, forward_rules rules)
    : context_(container.context)
    , rules_(rules)
{
    switch (rules_.to) {
    case forward_rules::target::app:
        host_ = container.conf.APP_IP;
        port_ = container.conf.APP_PORT;
        break;
    case forward_rules::target::sessions:
        host_ = container.conf.SESSIONS_IP;
        port_ = container.conf.SESSIONS_PORT;
        break;
    case forward_rules::target::auth:
        host_ = container.conf.AUTH_IP;
        port_ = container.conf.AUTH_PORT;
        break;
    }
}

HandlerResult forward_handler::process(qhttp::server::QHttpRequest* request)
{
    const int method = request->method();
    switch (method) {
    case qhttp::EHTTP_GET:
    case qhttp::EHTTP_POST:
        break;
    case qhttp::EHTTP_PUT:
        if (!rules_.authorisation)
            throw http_exception(QString(), 404);
        break;
    case qhttp::EHTTP_DELETE:
        if (!rules_.forwards_delete)
            throw_method_not_found(method);
        break;
    default:
        throw_method_not_found(method);
    }
    HttpForwardAsycResult forward = forward_url_builder(request);
    forward.method = method;
    return forward;
}

HttpForwardAsycResult forward_handler::forward_url_builder(
    qhttp::server::QHttpRequest* request) const
{
    const QUrl& incoming = request->url();
    HttpForwardAsycResult forward;
    forward.url = target_base(
        rules_.scheme_from_request ? incoming.scheme() : QStringLiteral("http"), host_, port_);
    forward.url.setPath(incoming.path(QUrl::FullyDecoded), QUrl::DecodedMode);
    if (incoming.hasQuery()) {
        // The authorisation services see encoded delimiters as the client wrote them.
        const auto form = rules_.authorisation ? QUrl::PrettyDecoded : QUrl::FullyDecoded;
        forward.url.setQuery(incoming.query(form), QUrl::TolerantMode);
    }
    forward.headers = request->headers();
    forward.body = request->collectedData();
    if (rules_.authorisation)
        forward.client_address = request->remoteAddress();
    return forward;
}

ApiForwardHandler::ApiForwardHandler(const request_container& container)
    : forward_handler(container, app_forward())
{ }

ApiTornelDriverForwardHandler::ApiTornelDriverForwardHandler(const request_container& container)
    : forward_handler(container, app_forward())
{ }

QOBIsenderForwardHandler::QOBIsenderForwardHandler(const request_container& container)
    : forward_handler(container, app_forward())
{ }

IEC104ForwardHandler::IEC104ForwardHandler(const request_container& container)
    : forward_handler(container, app_forward())
{ }

RezavovarForwardHandler::RezavovarForwardHandler(const request_container& container)
    : forward_handler(container, app_forward())
{ }

SesssionssenderForwardHandler::SesssionssenderForwardHandler(const request_container& container)
    : forward_handler(container, sessions_forward())
{ }

SpodesToTornelForwardHandler::SpodesToTornelForwardHandler(const request_container& container)
    : forward_handler(container, [] {
        forward_rules rules = app_forward();
        rules.forwards_delete = true;
        return rules;
    }())
{ }

AuthForwardHandler::AuthForwardHandler(const request_container& container)
    : forward_handler(container, auth_forward(false))
{ }

AuthNewForwardHandler::AuthNewForwardHandler(const request_container& container)
    : forward_handler(container, auth_forward(true))
{ }
