#include "handlers/modem/modem_ownership.h"

#include "access/access_helper.h"
#include "router/http_context.h"
#include "router/http_exception.h"
#include "router/json_helpers.h"

http_exception too_few_arguments()
{
    return http_exception(QStringLiteral("Too few arguments"), 403);
}

QStringList split_modem_list(const QString& text)
{
    return text.split(QLatin1Char(','));
}

modem_ownership::modem_ownership(
    access_helper& access, bool check_api_key, const HttpContext& context)
    : access_(access)
    , api_keys_(context.api_keys)
    , restricted_(check_api_key && !context.roles.contains(QLatin1String("admin")))
{ }

void modem_ownership::check(const QStringList& ids) const
{
    if (!restricted_)
        return;
    QStringList named;
    named.reserve(ids.size());
    for (const QString& id : ids) {
        if (!id.isEmpty())
            named.append(id);
    }
    if (named.isEmpty())
        return;
    // The whole list in one question to the store, however long it is.
    const QSet<QString> owned = access_.owned_devices(named, api_keys_);
    for (const QString& id : named) {
        if (!owned.contains(id))
            throw http_exception(
                QStringLiteral("Unavailable modem for provided token. Modem ID ") + id, 403);
    }
}

QStringList modem_ownership::checked_parts(const std::optional<QString>& text) const
{
    if (!text)
        throw too_few_arguments();
    QStringList parts = split_modem_list(*text);
    check(parts);
    return parts;
}

QJsonArray modem_ownership::checked_list(const std::optional<QString>& text) const
{
    return to_int_json_array(checked_parts(text));
}
