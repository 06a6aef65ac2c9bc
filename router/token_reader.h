#pragma once

#include "http/qhttp_types.h"
#include "router/http_context.h"
#include "router/token_cache.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The token text of a request, percent-decoded, not yet split at "."; null when the request
// carries none. A bearer "authorization" header wins over the "VORNIX_JWT" cookie.
QByteArray token_text(const qhttp::THeaderHash& headers);

// The token candidate of a request, already split at "."; empty when the request carries
// none.
QList<QByteArray> token_candidate(const qhttp::THeaderHash& headers);

// Reads the request's token into a fresh context. Never throws: anything malformed simply
// leaves the context without a valid token. `sign_key` is stored in the context either way.
// Three-part tokens are verified once per (token, sign_key) and then served from `cache`.
HttpContext read_token(const qhttp::THeaderHash& headers, const QString& sign_key);
HttpContext read_token(
    const qhttp::THeaderHash& headers, const QString& sign_key, token_cache& cache);

// Verifies a three-part token and, only when its signature holds, parses its parts into
// `ctx.token_parts` and reads its claims into `ctx`: an unsigned token leaves both empty.
void verify_token(const QList<QByteArray>& parts, HttpContext& ctx);
