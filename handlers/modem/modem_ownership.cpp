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
    id_check ids(*this, text);
    for_each_comma_run(text, [&](QStringView id, qsizetype) { ids.add_part(id); });
    ids.finish();
}

void modem_ownership::check_keys(const compact_json& body) const
{
    if (!restricted_)
        return;
    id_check ids(*this);
    ids.expect(std::size_t(body.size()));
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

modem_ownership::id_check::id_check(const modem_ownership& ownership, QStringView text)
    : ownership_(ownership)
    , copied_(false)
    , parts_(text)
{ }

void modem_ownership::id_check::expect(std::size_t ids)
{
    named_.reserve(ids);
    table_.expect(ids);
}

template <class Keep>
void modem_ownership::id_check::add(QStringView id, Keep&& keep)
{
    if (id.isEmpty())
        return;
    const int count = int(named_.size());
    const int at = table_.add(
        distinct_hash(id), count, [&](int p) { return is(named_[std::size_t(p)], id); },
        [&](int p) { return distinct_hash(text(named_[std::size_t(p)])); });
    if (at != count)
        return;
    named_.push_back(keep());
    if (named_.size() - asked_ != std::size_t(chunk_ids))
        return;
    ask_rest();
    // The parts of a text that go on past its first chunk are counted then, the rest of them
    // once: a short list, a refused one or a long run of a few ids never is.
    if (!copied_ && asked_ == std::size_t(chunk_ids)) {
        const QStringView rest = parts_.mid(qsizetype(named_.back()) + id.size());
        expect(named_.size() + std::size_t(count_comma_items(rest)) - 1);
    }
}

void modem_ownership::id_check::add_part(QStringView part)
{
    add(part, [&] { return quint32(part.utf16() - parts_.utf16()); });
}

void modem_ownership::id_check::add_copy(QStringView id)
{
    add(id, [&] { return copies_.keep(id); });
}

QStringView modem_ownership::id_check::text(quint32 ref) const
{
    if (copied_)
        return copies_.text(ref);
    const QStringView rest = parts_.mid(qsizetype(ref));
    const qsizetype end = index_of(rest, QLatin1Char(','));
    return end < 0 ? rest : rest.left(end);
}

bool modem_ownership::id_check::is(quint32 ref, QStringView id) const
{
    if (copied_)
        return copies_.text(ref) == id;
    // A part is `id` when it starts so and ends there.
    const QStringView rest = parts_.mid(qsizetype(ref));
    return rest.startsWith(id) && (rest.size() == id.size() || rest[id.size()] == u',');
}

void modem_ownership::id_check::finish()
{
    ask_rest();
}

void modem_ownership::id_check::ask_rest()
{
    std::vector<QStringView> ids;
    ids.reserve(named_.size() - asked_);
    for (std::size_t i = asked_; i < named_.size(); ++i)
        ids.push_back(text(named_[i]));
    ownership_.ask(ids);
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
