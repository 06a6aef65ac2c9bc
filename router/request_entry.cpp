#include "router/request_entry.h"

#include "app/logger.h"
#include "http/qhttp_server.h"
#include "router/token_reader.h"

namespace {

// Made once: a header name or value built per request would cost an allocation each time.
const QByteArray allow_origin = QByteArrayLiteral("Access-Control-Allow-Origin");
const QByteArray any_origin = QByteArrayLiteral("*");
const QByteArray content_security_policy_name = QByteArrayLiteral("content-security-policy");
const QByteArray content_security_policy = QByteArrayLiteral(
    "default-src 'self' 'unsafe-inline' http:; img-src 'unsafe-inline' http: data:;");

} // namespace

HttpContext enter_request(qhttp::server::QHttpRequest* request,
    qhttp::server::QHttpResponse* response, const global_conf& conf, logger& log)
{
    request->collectData(-1);
    // The URL's text is made only when the line is written.
    if (log.accepts(LOG_INFORM))
        log_line(log, LOG_INFORM) << "Start process request " << request->url().toString();
    HttpContext context = read_token(request->headers(), conf.SIGN_KEY);
    if (conf.ACCESS_HEADER)
        response->addHeader(allow_origin, any_origin);
    response->addHeader(content_security_policy_name, content_security_policy);
    return context;
}
