#include "router/rights.h"

#include <QHash>

namespace {

bool text_allows(const QString& value, const QString& method)
{
    return value.isEmpty() || value == QLatin1String("admin") || value.contains(method);
}

} // namespace

bool check_rights(
    const scope_rights& rights, const QString& group, const QString& right, const QString& method)
{
    const auto group_it = rights.constFind(group);
    if (group_it == rights.constEnd())
        return false;
    const QMap<QString, QString>& entries = group_it.value();

    const auto deny = entries.constFind(QLatin1Char('!') + right);
    if (deny != entries.constEnd() && text_allows(deny.value(), method))
        return false;

    const auto allow = entries.constFind(right);
    if (allow != entries.constEnd() && text_allows(allow.value(), method))
        return true;

    return entries.contains(QStringLiteral("admin"));
}

QStringList allowed_rights(
    const token_rights& rights, const QString& group, const QString& right, const QString& method)
{
    QStringList scopes;
    for (auto it = rights.constBegin(); it != rights.constEnd(); ++it) {
        if (check_rights(it.value(), group, right, method))
            scopes.append(it.key());
    }
    return scopes;
}

namespace {

std::optional<QPair<QString, QString>> derive_rights_target(const QString& handler_path)
{
    const QString api = QStringLiteral("/api/");
    QString path = handler_path;
    if (path.startsWith(api))
        path.replace(api, QStringLiteral("/appsandbox/"));
    path.replace(api, QStringLiteral("/"));

    const QStringList parts = path.split(QLatin1Char('/'));
    if (parts.size() <= 2)
        return std::nullopt;
    const QString& group = parts.at(1);
    if (group == QLatin1String("update"))
        return std::nullopt;
    QString right = parts.at(2);
    if (parts.size() >= 4)
        right += QLatin1Char('_') + parts.at(3);
    return qMakePair(group, right);
}

} // namespace

std::optional<QPair<QString, QString>> rights_target(const QString& handler_path)
{
    // Asked for every request with a token, always of one of the few handler paths, and the
    // derivation splits and copies text: each path's answer is kept.
    using target = std::optional<QPair<QString, QString>>;
    constexpr int max_kept = 512;
    thread_local QHash<QString, target> kept;
    const auto found = kept.constFind(handler_path);
    if (found != kept.constEnd())
        return found.value();
    const target derived = derive_rights_target(handler_path);
    if (kept.size() < max_kept)
        kept.insert(handler_path, derived);
    return derived;
}
