#include "routes/api_params.h"

#include "http/qhttp_server.h"
#include "router/request_helpers.h"

api_params::api_params(const QStringList& keys, const qhttp::server::QHttpRequest& request)
    : body_(request.collectedData())
{
    const auto items = parse_query_map(request.url().query(QUrl::FullyDecoded));
    for (const auto& item : items) {
        if (keys.contains(item.first))
            values_[item.first] = item.second;
        else
            leftover_.insert(item.first, item.second);
    }
}

std::optional<QString> api_params::value(const QString& key) const
{
    const auto it = values_.find(key);
    if (it == values_.end())
        return std::nullopt;
    return it->second;
}

QString api_params::route_key(const QString& fallback) const
{
    return value("route_key").value_or(fallback);
}
