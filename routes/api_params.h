#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <map>
#include <optional>

namespace qhttp {
namespace server {
class QHttpRequest;
}
} // namespace qhttp

// The generic parameter record of a handler: the query items named by the handler's parameter
// keys (exact, case-sensitive names; a name given twice keeps its last value) and the body.
// A handler that needs a record of its own declares `ApiParams` and `parse_request`.
class api_params
{
public:
    api_params() = default;
    api_params(const QStringList& keys, const qhttp::server::QHttpRequest& request);

    bool has(const QString& key) const { return values_.count(key) != 0; }
    // Present when the query held an item of exactly that name; it may be empty.
    std::optional<QString> value(const QString& key) const;
    // The value, or an empty text when the query did not hold it.
    QString text(const QString& key) const { return value(key).value_or(QString()); }
    // The "route_key" item overrides a handler's default routing key, an empty value included.
    QString route_key(const QString& fallback) const;
    const QByteArray& body() const { return body_; }
    // Query items whose names are not among the keys, values as JSON strings.
    const QJsonObject& leftover() const { return leftover_; }

private:
    std::map<QString, QString> values_;
    QJsonObject leftover_;
    QByteArray body_;
};
