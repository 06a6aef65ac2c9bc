#include "router/request_entry.h"

#include "app/logger.h"
#include "http/qhttp_server.h"
#include "router/token_reader.h"

namespace {

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
        response->addHeader("Access-Control-Allow-Origin", "*");
    response->addHeader("content-security-policy", content_security_policy);
    return context;
}
