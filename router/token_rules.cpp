#include "router/token_rules.h"

#include "router/http_exception.h"
#include "router/rights.h"
#include "router/statistics.h"

namespace {

bool is_versioned(const QString& ver)
{
    return ver == QLatin1String("3.0") || ver == QLatin1String("2.0");
}

void check_rights_of(HttpContext& context, const token_rule_request& request)
{
    const auto target = rights_target(request.handler_path);
    if (!target)
        return;
    const QString& group = target->first;
    const QString& right = target->second;
    if (context.ver == QLatin1String("2.0")) {
        if (!check_rights(context.rights.value(QString()), group, right, request.method))
            throw http_exception(QStringLiteral("Not allowed method. Token version 2.0."), 403);
    } else if (context.ver == QLatin1String("3.0")) {
        context.api_keys = allowed_rights(context.rights, group, right, request.method);
        if (context.api_keys.isEmpty())
            throw http_exception(QStringLiteral("Not allowed method. Token version 3.0."), 403);
    }
}

} // namespace

void enforce_token_rules(HttpContext& context, const global_conf& conf, statistic_map& statistics,
    const token_rule_request& request)
{
    if (!context.token_valid && conf.CHECK_TOKEN_VALID) {
        set_request_state(statistics, context.email, request.uuid, FAIL_TOKEN_INVALID);
        throw http_exception(QStringLiteral("Token not valid"), 307, conf.AUTH_REDIRECT);
    }

    // A context without an expiry time (no valid token) counts as expired.
    const bool expired = !context.exp.isValid() || context.exp < request.now;
    if (expired && conf.CHECK_TOKEN_EXP_TIME) {
        set_request_state(statistics, context.email, request.uuid, FAIL_TOKEN_EXPIRED);
        const QString location = is_versioned(context.ver)
            ? conf.REFRESH_REDIRECT + QString::fromLatin1(request.url.toLatin1().toBase64())
            : conf.AUTH_REDIRECT;
        throw http_exception(QStringLiteral("Token was expired"), 307, location);
    }

    if (!context.roles.contains(QLatin1String("admin"))) {
        // The caller's entry exists: the request's record was opened in it.
        const auto caller = statistics.constFind(context.email);
        if (caller != statistics.constEnd() && is_banned(caller.value(), request.now)) {
            const QDateTime banned_to = caller.value().banned_to;
            set_request_state(statistics, context.email, request.uuid, FAIL_BAN_BY_TIME);
            throw http_exception(ban_message(banned_to), 429);
        }
    }

    if (conf.CHECK_TOKEN_CLAIMS)
        check_rights_of(context, request);
}
