#pragma once

#include <QJsonArray>
#include <QString>
#include <QStringList>
#include <optional>

class access_helper;
struct HttpContext;
class http_exception;

// 403 "Too few arguments": an operation lacks an item it needs.
http_exception too_few_arguments();

// The parts of a modem-id text: split at every ",", empty parts kept ("" gives one empty part).
QStringList split_modem_list(const QString& text);

// Which modems a request may name. A caller is restricted when the API-key check is on and
// its roles lack "admin" (exact); only a restricted caller's modems go to the access store.
class modem_ownership
{
public:
    modem_ownership(access_helper& access, bool check_api_key, const HttpContext& context);

    bool restricted() const { return restricted_; }
    const QStringList& api_keys() const { return api_keys_; }
    access_helper& store() const { return access_; }

    // For a restricted caller, refuses with 403 "Unavailable modem for provided token. Modem ID "
    // and the id the first id that none of its keys owns. An empty id names no modem and is left
    // out, so it never hides a later foreign id.
    void check(const QStringList& ids) const;

    // The parts of a required modem-id text after the check; 403 "Too few arguments" without it.
    QStringList checked_parts(const std::optional<QString>& text) const;
    // The same sent as "modem_id": the parts that read as decimal 32-bit integers.
    QJsonArray checked_list(const std::optional<QString>& text) const;

private:
    access_helper& access_;
    QStringList api_keys_;
    bool restricted_;
};
