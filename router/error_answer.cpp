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
    return QJsonDocument(QJsonObject { { QStringLiteral("What"), message } })
        .toJson(QJsonDocument::Compact);
}

void answer(qhttp::server::QHttpResponse* response, quint32 status, const QString& message,
    const QString* location = nullptr)
{
    response->setStatusCode(int(status));
    if (location)
        response->addHeader("location", location->toUtf8());
    response->addHeader("content-type", "application/json");
    response->end(what_body(message));
}

} // namespace

void answer_failure(
    qhttp::server::QHttpResponse* response, logger& log, const std::exception_ptr& failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const http_exception& e) {
        if (e.status() == 307) {
            log_line(log, LOG_DEBUG) << "TStatusCode::ESTATUS_TEMPORARY_REDIRECT";
            answer(response, e.status(), e.message(), &e.location());
        } else {
            log_line(log, LOG_DEBUG) << QStringLiteral("TStatusCode::%1").arg(e.status());
            answer(response, e.status(), e.message());
        }
    } catch (const RedisClient::Connection::Exception& e) {
        answer(
            response, 400, QStringLiteral("Redis exception: %1").arg(QString::fromUtf8(e.what())));
    } catch (...) {
        answer(response, 400, QStringLiteral("Catched unknown error."));
    }
}
