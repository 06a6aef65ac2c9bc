#include "handlers/modem/modem_ownership.h"

#include "access/access_helper.h"
#include "router/http_context.h"
#include "router/http_exception.h"
#include "router/json_helpers.h"
#include "router/list_items.h"
#include "json/compact_json.h"

#include <algorithm>

namespace {

// The Redis store asks a round trip of 4,096 commands, one per id and key: a chunk of 4,096 ids
// is whole round trips whatever the number of keys, so a list asked a chunk at a time makes the
// same commands and round trips as one question about all of it.
constexpr int chunk_ids = 4096;

} // namespace

http_exception too_few_arguments()
{
    return http_exception(QStringLiteral("Too few arguments"), 403);
}

distinct_list<QStringView> distinct_modems(QStringView text)
{
    distinct_list<QStringView> modems(std::size_t(count_comma_items(text)));
    for_each_comma_run(text, [&](QStringView modem, qsizetype) { modems.add(modem); });
    return modems;
}

modem_ownership::modem_ownership(
    access_helper& access, bool check_api_key, const HttpContext& context)
    : access_(access)
    , api_keys_(context.api_keys)
    , restricted_(check_api_key && !context.roles.contains(QLatin1String("admin")))
{ }

void modem_ownership::check(QStringView text) const
{
    if (!restricted_)
        return;
    id_check ids(*this);
    for_each_comma_run(text, [&](QStringView id, qsizetype) { ids.add(id); });
    ids.finish();
}

void modem_ownership::check_keys(const compact_json& body) const
{
    if (!restricted_)
        return;
    id_check ids(*this);
    for (int i = 0; i < body.size(); ++i)
        ids.add_copy(body.key(i));
    ids.finish();
}

void modem_ownership::ask(const std::vector<QStringView>& ids) const
{
    if (ids.empty())
        return;
    const std::vector<bool> owned = access_.owned_devices(ids, api_keys_);
    const auto foreign = std::find(owned.begin(), owned.end(), false);
    if (foreign != owned.end())
        throw http_exception(QStringLiteral("Unavailable modem for provided token. Modem ID ")
                + ids[std::size_t(foreign - owned.begin())].toString(),
            403);
}

modem_ownership::id_check::id_check(const modem_ownership& ownership)
    : ownership_(ownership)
{ }

void modem_ownership::id_check::add(QStringView id)
{
    const int known = named_.size();
    if (!id.isEmpty() && named_.add(id) == known)
        took();
}

void modem_ownership::id_check::add_copy(QStringView id)
{
    if (id.isEmpty() || named_.position(id) >= 0)
        return;
    named_.add(copies_.keep(id));
    took();
}

void modem_ownership::id_check::took()
{
    if (named_.size() - asked_ == chunk_ids)
        ask_rest();
}

void modem_ownership::id_check::finish()
{
    ask_rest();
}

void modem_ownership::id_check::ask_rest()
{
    const std::vector<QStringView>& named = named_.values();
    if (asked_ == 0)
        ownership_.ask(named);
    else
        ownership_.ask(std::vector<QStringView>(named.begin() + asked_, named.end()));
    asked_ = named_.size();
}

QString modem_ownership::checked_text(const std::optional<QString>& text) const
{
    if (!text)
        throw too_few_arguments();
    check(*text);
    return *text;
}

QByteArray modem_ownership::checked_list(const std::optional<QString>& text) const
{
    return split_to_int_json_text(checked_text(text));
}
