#include "handlers/telecom/user_statistic_handler.h"

#include "handlers/telecom/user_statistic_view.h"
#include "router/http_exception.h"

#include <QJsonDocument>

UserStatisticHandler::UserStatisticHandler(const request_container& container)
    : statistics_(container.statistics)
    , start_time_(container.conf.start_time)
    , allowed_(!container.conf.CHECK_TOKEN_API_KEY
          || container.context.roles.contains(QStringLiteral("admin")))
{ }

HttpSyncResult UserStatisticHandler::get(const api_params& params)
{
    if (!allowed_)
        throw http_exception(QStringLiteral("Not enough rights. Available only for admin."), 403);
    const statistic_view_query query { params.value(QStringLiteral("user")),
        params.value(QStringLiteral("banned_to")), params.value(QStringLiteral("history")),
        params.value(QStringLiteral("user_list")), params.value(QStringLiteral("uptime")) };
    const QJsonObject answer
        = statistic_view(statistics_, query, start_time_, QDateTime::currentDateTimeUtc());
    HttpSyncResult result;
    result.headers.insert(QStringLiteral("content-type"), QStringLiteral("application/json"));
    result.body = QJsonDocument(answer).toJson(QJsonDocument::Compact);
    return result;
}
