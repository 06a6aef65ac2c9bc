#pragma once

#include "access/distinct_list.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <optional>

class access_helper;
class compact_json;
struct HttpContext;
class http_exception;

// 403 "Too few arguments": an operation lacks an item it needs.
http_exception too_few_arguments();

// The distinct parts of a modem-id text, in the order each first comes, as views into it.
distinct_list<QStringView> distinct_modems(QStringView text);

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
    // and the id the first of `ids` (distinct, in the order named) that none of its keys owns.
    // An empty id names no modem and is left out, so it never hides a later foreign id.
    void check(const distinct_list<QStringView>& ids) const;
    // The same for the keys of a JSON body, in the order QJsonObject::keys gives them.
    void check_keys(const compact_json& body) const;

    // A required modem-id text once its parts passed the check; 403 "Too few arguments" without
    // it.
    QString checked_text(const std::optional<QString>& text) const;
    // The parts of that text sent as "modem_id": those that read as decimal 32-bit integers, as
    // the ready text of a JSON array.
    QByteArray checked_list(const std::optional<QString>& text) const;

private:
    // The refusal for the first of `ids` (distinct, none empty) that no key owns.
    void ask(const std::vector<QStringView>& ids) const;

    access_helper& access_;
    QStringList api_keys_;
    bool restricted_;
};
