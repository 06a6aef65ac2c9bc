#pragma once

#include "app/global_conf.h"
#include "router/http_context.h"
#include "router/statistic.h"

#include <QDateTime>
#include <QString>

// What the token rules look at of one request.
struct token_rule_request
{
    QString handler_path; // the matched handler's prefix, not the request path
    QString method; // the method's name: GET, POST, ...
    QString url; // the request URL as text, for the refresh redirect
    QString uuid; // the request id, to find the request's statistics record
    QDateTime now; // UTC
};

// Validity, expiry, load ban and rights, in that order, for a handler that needs a token.
// A refusal throws http_exception (307, 429 or 403) after recording the refusal's state in the
// caller's statistics. For a "3.0" token, context.api_keys becomes the keys whose rights allow
// the call, so the handler only ever sees those.
void enforce_token_rules(HttpContext& context, const global_conf& conf, statistic_map& statistics,
    const token_rule_request& request);
