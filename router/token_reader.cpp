#include "router/token_reader.h"

#include "json/json_document.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QMessageAuthenticationCode>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

const QByteArray cookie_marker = QByteArrayLiteral("VORNIX_JWT=");

bool contains(const QByteArray& bytes, char c, int from = 0)
{
    return from < bytes.size()
        && std::memchr(bytes.constData() + from, c, size_t(bytes.size() - from)) != nullptr;
}

bool is_ascii(const QByteArray& bytes)
{
    unsigned char all = 0;
    for (const char c : bytes)
        all |= static_cast<unsigned char>(c);
    return all < 0x80;
}

// Percent escapes become bytes read as UTF-8; a "+" is left alone. The verifier works on
// bytes again, so the text goes back through Latin-1. Plain ASCII without escapes, which is
// what tokens are, comes through unchanged.
QByteArray decode_token_text(const QByteArray& raw)
{
    if (!contains(raw, '%') && is_ascii(raw))
        return raw;
    return QString::fromUtf8(QByteArray::fromPercentEncoding(raw)).toLatin1();
}

// The second word of an "authorization" value of exactly two words (split at each single
// space) whose first word is "bearer" in any letter case; null otherwise.
QByteArray bearer_token(const QByteArray& value)
{
    static const char scheme[] = "bearer ";
    const int scheme_size = int(sizeof(scheme) - 1);
    if (value.size() < scheme_size || qstrnicmp(value.constData(), scheme, uint(scheme_size)) != 0
        || contains(value, ' ', scheme_size))
        return QByteArray();
    const QByteArray token = value.mid(scheme_size);
    // An empty second word is still a word.
    return token.isNull() ? QByteArray("") : token;
}

// Characters outside the standard alphabet ("=", "-", "_", blanks) are skipped, so
// decoding never fails.
QByteArray lenient_base64(const QByteArray& text)
{
    return QByteArray::fromBase64(text, QByteArray::Base64Encoding);
}

// Walks the whole input whatever the first difference, so the time taken does not tell an
// attacker how much of a forged signature was right.
bool equal_constant_time(const QByteArray& a, const QByteArray& b)
{
    const int n = qMax(a.size(), b.size());
    unsigned diff = a.size() == b.size() ? 0u : 1u;
    for (int i = 0; i < n; ++i) {
        const unsigned char x = i < a.size() ? static_cast<unsigned char>(a.at(i)) : 0u;
        const unsigned char y = i < b.size() ? static_cast<unsigned char>(b.at(i)) : 0u;
        diff |= static_cast<unsigned>(x ^ y);
    }
    return diff == 0;
}

QDateTime read_expiry(const QJsonValue& value)
{
    qint64 secs = 0;
    if (value.isDouble()) {
        const double d = value.toDouble();
        if (std::isfinite(d) && std::floor(d) == d
            && d >= static_cast<double>(std::numeric_limits<qint32>::min())
            && d <= static_cast<double>(std::numeric_limits<qint32>::max()))
            secs = static_cast<qint64>(d);
    }
    return QDateTime::fromSecsSinceEpoch(secs, Qt::UTC);
}

void read_group(const QJsonObject& group, QMap<QString, QString>& target)
{
    for (auto it = group.begin(); it != group.end(); ++it)
        target[it.key()] = it.value().toString();
}

void read_claims(const QJsonObject& payload, HttpContext& ctx)
{
    if (payload.contains(QLatin1String("apiKeys"))) {
        const QJsonArray keys = payload.value(QLatin1String("apiKeys")).toArray();
        for (const QJsonValue& key : keys)
            ctx.api_keys.append(key.toString());
    } else {
        ctx.api_keys.append(payload.value(QLatin1String("apiKey")).toString());
    }

    ctx.exp = read_expiry(payload.value(QLatin1String("exp")));

    ctx.user_id = payload.value(QLatin1String("account_id")).toString();
    if (payload.contains(QLatin1String("userId")))
        ctx.user_id = payload.value(QLatin1String("userId")).toString();

    ctx.email = payload.value(QLatin1String("headEmail")).toString();
    if (payload.contains(QLatin1String("email")))
        ctx.email = payload.value(QLatin1String("email")).toString();

    const QJsonValue claims_value = payload.value(QLatin1String("claims"));
    if (!claims_value.isObject())
        return;
    const QJsonObject claims = claims_value.toObject();
    ctx.ver = payload.value(QLatin1String("ver")).toString();
    const QString roles_group = QStringLiteral("b");

    if (ctx.ver == QLatin1String("2.0")) {
        for (auto g = claims.begin(); g != claims.end(); ++g) {
            const QJsonObject group = g.value().toObject();
            if (!group.isEmpty())
                read_group(group, ctx.rights[QString()][g.key()]);
            if (g.key() == roles_group)
                ctx.roles = group.keys();
        }
    } else if (ctx.ver == QLatin1String("3.0")) {
        // Version 3 scopes rights per API key; the keys of the claims are the caller's keys.
        ctx.api_keys.clear();
        for (auto a = claims.begin(); a != claims.end(); ++a) {
            ctx.api_keys.append(a.key());
            const QJsonObject groups = a.value().toObject();
            for (auto g = groups.begin(); g != groups.end(); ++g) {
                const QJsonObject group = g.value().toObject();
                if (!group.isEmpty())
                    read_group(group, ctx.rights[a.key()][g.key()]);
                if (g.key() == roles_group)
                    ctx.roles = group.keys();
            }
        }
    } else {
        const QJsonValue roles = claims.value(roles_group);
        if (roles.isObject())
            ctx.roles = roles.toObject().keys();
    }
}

} // namespace

QByteArray token_text(const qhttp::THeaderHash& headers)
{
    const auto authorization = headers.constFind(QByteArrayLiteral("authorization"));
    if (authorization != headers.constEnd()) {
        const QByteArray bearer = bearer_token(authorization.value());
        if (!bearer.isNull())
            return decode_token_text(bearer);
    }

    const auto cookie = headers.constFind(QByteArrayLiteral("cookie"));
    if (cookie == headers.constEnd())
        return QByteArray();
    // The first cookie that holds the marker is the one around its first occurrence, since the
    // marker holds no ";": found without cutting a list of thousands of cookies into pieces.
    const QByteArray& cookies = cookie.value();
    const int marker = cookies.indexOf(cookie_marker);
    if (marker < 0)
        return QByteArray();
    const int from = cookies.lastIndexOf(';', marker) + 1;
    int to = cookies.indexOf(';', marker);
    if (to < 0)
        to = cookies.size();
    QByteArray value = cookies.mid(from, to - from);
    value.replace(cookie_marker, QByteArray());
    const QByteArray decoded = decode_token_text(value.trimmed());
    return decoded.isNull() ? QByteArray("") : decoded;
}

QList<QByteArray> token_candidate(const qhttp::THeaderHash& headers)
{
    const QByteArray text = token_text(headers);
    return text.isNull() ? QList<QByteArray>() : text.split('.');
}

void verify_token(const QList<QByteArray>& parts, HttpContext& ctx)
{
    if (parts.size() != 3)
        return;

    const QByteArray message = parts.at(0) + '.' + parts.at(1);
    const QByteArray expected
        = QMessageAuthenticationCode::hash(message, ctx.sign_key.toUtf8(), QCryptographicHash::Md5)
              .toHex();
    ctx.token_valid = equal_constant_time(lenient_base64(parts.at(2)), expected);
    // Parsing JSON costs many times what hashing the same bytes does, more so for parts made of
    // thousands of small numbers or nested arrays: only what the key's holder signed is worth it.
    if (!ctx.token_valid)
        return;

    for (const QByteArray& part : parts)
        ctx.token_parts.append(read_json_document(lenient_base64(part)));
    read_claims(ctx.token_parts.at(1).object(), ctx);
}

HttpContext read_token(const qhttp::THeaderHash& headers, const QString& sign_key)
{
    return read_token(headers, sign_key, token_cache::shared());
}

HttpContext read_token(
    const qhttp::THeaderHash& headers, const QString& sign_key, token_cache& cache)
{
    const QByteArray text = token_text(headers);
    // Anything but three parts is never verified, so there is nothing to remember either.
    if (std::count(text.begin(), text.end(), '.') != 2) {
        HttpContext ctx;
        ctx.sign_key = sign_key;
        return ctx;
    }
    if (std::optional<HttpContext> known = cache.find(text, sign_key))
        return std::move(*known);
    HttpContext ctx;
    ctx.sign_key = sign_key;
    verify_token(text.split('.'), ctx);
    cache.insert(text, sign_key, ctx);
    return ctx;
}
