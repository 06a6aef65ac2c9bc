#pragma once

#include "http/qhttp_server.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <map>
#include <optional>

// The parameters of a driver request as text: for GET the URL query (fully decoded), for POST
// the body, read as a JSON object or else as a form; for any other method nothing. A POST never
// reads the URL query and a GET never reads the body. With `keys`, only the entries they name
// are made.
std::map<QString, QString> make_tornel_params(qhttp::THttpMethod method, const QUrl& url,
    const QByteArray& body, const QStringList* keys = nullptr);

inline std::map<QString, QString> make_tornel_params(
    const qhttp::server::QHttpRequest& request, const QStringList& keys)
{
    return make_tornel_params(request.method(), request.url(), request.collectedData(), &keys);
}

// One driver handler's parameter record: the entries whose names are among the class's keys
// (exact, case-sensitive). An absent key differs from a key given with an empty value.
class tornel_params
{
public:
    tornel_params() = default;
    tornel_params(const QStringList& keys, const std::map<QString, QString>& entries);

    std::optional<QString> value(const QString& key) const;

private:
    std::map<QString, QString> values_;
};
