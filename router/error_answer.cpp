#include "router/error_answer.h"

#include "access/redis_connection.h"
#include "app/logger.h"
#include "http/qhttp_server.h"
#include "router/http_exception.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

QByteArray what_body(const QString& message)
{
    // Refusals repeat the same few messages, and a JSON document costs more to build than the
    // rest of such an answer: the body of the latest message is kept for the next answer.
    thread_local QString last_message;
    thread_local QByteArray last_body;
    if (last_body.isNull() || message != last_message) {
        last_body = QJsonDocument(QJsonObject { { QStringLiteral("What"), message } })
                        .toJson(QJsonDocument::Compact);
        last_message = message;
    }
    return last_body;
}

const QByteArray location_name = QByteArrayLiteral("location");
const QByteArray content_type_name = QByteArrayLiteral("content-type");
const QByteArray json_type = QByteArrayLiteral("application/json");

void answer(qhttp::server::QHttpResponse* response, quint32 status, const QString& message,
    const QString* location = nullptr)
{
    response->setStatusCode(int(status));
    if (location)
        response->addHeader(location_name, location->toUtf8());
    response->addHeader(content_type_name, json_type);
    response->end(what_body(message));
}

} // namespace

void answer_failure(
    qhttp::server::QHttpResponse* response, logger& log, const http_exception& failure)
{
    if (failure.status() == 307) {
        log_line(log, LOG_DEBUG) << "TStatusCode::ESTATUS_TEMPORARY_REDIRECT";
        answer(response, failure.status(), failure.message(), &failure.location());
    } else {
        if (log.accepts(LOG_DEBUG))
            log_line(log, LOG_DEBUG) << QStringLiteral("TStatusCode::%1").arg(failure.status());
        answer(response, failure.status(), failure.message());
    }
}

void answer_failure(
    qhttp::server::QHttpResponse* response, logger& log, const std::exception_ptr& failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const http_exception& e) {
        answer_failure(response, log, e);
    } catch (const RedisClient::Connection::Exception& e) {
        answer(
            response, 400, QStringLiteral("Redis exception: %1").arg(QString::fromUtf8(e.what())));
    } catch (...) {
        answer(response, 400, QStringLiteral("Catched unknown error."));
    }
}
