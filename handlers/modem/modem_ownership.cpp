#include "handlers/modem/modem_ownership.h"

#include "access/access_helper.h"
#include "handlers/modem/named_ids.h"
#include "router/http_context.h"
#include "router/http_exception.h"
#include "router/json_helpers.h"
#include "router/list_items.h"
#include "json/compact_json.h"

#include <algorithm>

http_exception too_few_arguments()
{
    return http_exception(QStringLiteral("Too few arguments"), 403);
}

distinct_list<QStringView> distinct_modems(QStringView text)
{
    distinct_list<QStringView> modems;
    for_each_comma_run(text, [&](QStringView modem, qsizetype) { modems.add(modem); });
    return modems;
}

modem_ownership::modem_ownership(
    access_helper& access, bool check_api_key, const HttpContext& context)
    : access_(access)
    , api_keys_(context.api_keys)
    , restricted_(check_api_key && !context.roles.contains(QLatin1String("admin")))
{ }

void modem_ownership::check(const distinct_list<QStringView>& ids) const
{
    if (!restricted_)
        return;
    const int empty = ids.position(QStringView());
    if (empty < 0) {
        ask(ids.values());
        return;
    }
    std::vector<QStringView> named = ids.values();
    named.erase(named.begin() + empty);
    ask(named);
}

void modem_ownership::ask(const std::vector<QStringView>& ids) const
{
    if (ids.empty())
        return;
    // The whole list in one question to the store, however long it is.
    const std::vector<bool> owned = access_.owned_devices(ids, api_keys_);
    const auto foreign = std::find(owned.begin(), owned.end(), false);
    if (foreign != owned.end())
        throw http_exception(QStringLiteral("Unavailable modem for provided token. Modem ID ")
                + ids[std::size_t(foreign - owned.begin())].toString(),
            403);
}

void modem_ownership::check_keys(const compact_json& body) const
{
    if (!restricted_)
        return;
    named_ids keys;
    for (int i = 0; i < body.size(); ++i)
        keys.add(body.key(i));
    check(keys.distinct());
}

QString modem_ownership::checked_text(const std::optional<QString>& text) const
{
    if (!text)
        throw too_few_arguments();
    if (restricted_)
        check(distinct_modems(*text));
    return *text;
}

QByteArray modem_ownership::checked_list(const std::optional<QString>& text) const
{
    return split_to_int_json_text(checked_text(text));
}
