#include "qt_print.h"
#include "router/token_cache.h"
#include "router/token_reader.h"
#include "token_builder.h"

#include <QJsonArray>
#include <gtest/gtest.h>

namespace {

const QString k1 = QStringLiteral("key-one");
const QString k2 = QStringLiteral("key-two");

QJsonObject payload(const char* email)
{
    return QJsonObject { { "email", email }, { "exp", 2000000000 }, { "ver", "2.0" },
        { "claims", QJsonObject { { "b", QJsonObject { { "admin", "" } } } } } };
}

QJsonObject payload_v3()
{
    return QJsonObject {
        { "email", "three@example.org" }, { "ver", "3.0" },
        { "claims",
            QJsonObject { { "key-a", QJsonObject { { "b", QJsonObject { { "user", "" } } } } },
                { "key-b", QJsonObject { { "telecom", QJsonObject { { "stats", "GET" } } } } } } }
    };
}

qhttp::THeaderHash bearer(const QByteArray& token)
{
    return { { "authorization", "Bearer " + token } };
}

// What verifying the token makes of it, with no cache anywhere.
HttpContext fresh(const QByteArray& token, const QString& sign_key)
{
    HttpContext context;
    context.sign_key = sign_key;
    verify_token(token.split('.'), context);
    return context;
}

void expect_same(const HttpContext& a, const HttpContext& b)
{
    EXPECT_EQ(a.token_valid, b.token_valid);
    EXPECT_EQ(a.sign_key, b.sign_key);
    EXPECT_EQ(a.email, b.email);
    EXPECT_EQ(a.roles, b.roles);
    EXPECT_EQ(a.rights, b.rights);
    EXPECT_EQ(a.ver, b.ver);
    EXPECT_EQ(a.user_id, b.user_id);
    EXPECT_EQ(a.api_keys, b.api_keys);
    EXPECT_EQ(a.exp, b.exp);
    EXPECT_EQ(a.token_parts, b.token_parts);
}

QByteArray forged(const QByteArray& token)
{
    QByteArray copy = token;
    copy[copy.size() - 2] = copy.at(copy.size() - 2) == 'A' ? 'B' : 'A';
    return copy;
}

// Reading a token through the cache, first and again, gives exactly what a fresh verification
// gives, whatever other key the same token was seen with before.
TEST(TokenCache, RememberedResultIsTheResult)
{
    const QByteArray signed_k1 = token_builder::make(payload("one@example.org"), k1);
    const QByteArray signed_k2 = token_builder::make(payload("two@example.org"), k2);
    const QByteArray v3 = token_builder::make(payload_v3(), k1);
    const struct
    {
        const char* behaviour;
        QByteArray token;
        QString key;
        bool valid;
    } reads[] = {
        { "valid under its own key", signed_k1, k1, true },
        { "same token under another key (an edited SIGN_KEY)", signed_k1, k2, false },
        { "and back under the first key", signed_k1, k1, true },
        { "signed with the other key", signed_k2, k1, false },
        { "now under the key it was signed with", signed_k2, k2, true },
        { "forged signature", forged(signed_k1), k1, false },
        { "forged signature, read again", forged(signed_k1), k1, false },
        { "version 3.0 claims", v3, k1, true },
        { "version 3.0 claims, read again", v3, k1, true },
        { "empty key", token_builder::make(payload("e@example.org"), QString()), QString(), true },
    };
    token_cache cache;
    for (const auto& r : reads) {
        SCOPED_TRACE(r.behaviour);
        const HttpContext read = read_token(bearer(r.token), r.key, cache);
        EXPECT_EQ(read.token_valid, r.valid);
        expect_same(read, fresh(r.token, r.key));
    }
    EXPECT_EQ(cache.size(), 7) << "one entry per (token, key) seen";
}

TEST(TokenCache, OnlyThreePartTokensAreKept)
{
    const struct
    {
        const char* behaviour;
        qhttp::THeaderHash headers;
    } cases[] = {
        { "no token", {} },
        { "two parts", bearer("abc.def") },
        { "four parts", bearer(token_builder::make(payload("x@example.org"), k1) + ".x") },
        { "not a bearer value", { { "authorization", "Basic abc.def.ghi" } } },
    };
    token_cache cache;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        const HttpContext read = read_token(c.headers, k1, cache);
        EXPECT_FALSE(read.token_valid);
        EXPECT_TRUE(read.token_parts.isEmpty());
        EXPECT_EQ(read.sign_key, k1);
    }
    EXPECT_EQ(cache.size(), 0);
}

TEST(TokenCache, StaysWithinItsBounds)
{
    const auto token = [](int i) {
        return token_builder::make(
            payload(QByteArray("user" + QByteArray::number(i)).constData()), k1);
    };
    const qint64 entry_bytes = token(100).size() + k1.size() * 2; // every token here as long
    const struct
    {
        const char* behaviour;
        token_cache::limits limits;
        int kept; // of the 10 tokens read, the newest this many remain
    } cases[] = {
        { "entry count", { 3, 1 << 20, 1 << 14 }, 3 },
        { "text bytes", { 100, 4 * entry_bytes, 1 << 14 }, 4 },
        { "room for exactly one", { 1, 1 << 20, 1 << 14 }, 1 },
        { "tokens longer than the limit are never kept", { 100, 1 << 20, 16 }, 0 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        token_cache cache(c.limits);
        for (int i = 100; i < 110; ++i) {
            const HttpContext read = read_token(bearer(token(i)), k1, cache);
            ASSERT_TRUE(read.token_valid) << "a full cache still verifies";
            EXPECT_LE(cache.size(), c.limits.max_entries);
            EXPECT_LE(cache.text_bytes(), c.limits.max_text_bytes);
        }
        EXPECT_EQ(cache.size(), c.kept);
        for (int i = 100; i < 110; ++i)
            EXPECT_EQ(cache.find(token(i), k1).has_value(), i >= 110 - c.kept) << "token " << i;
    }
}

TEST(TokenCache, LeastRecentlyUsedGoesFirst)
{
    token_cache cache({ 2, 1 << 20, 1 << 14 });
    const QByteArray a = token_builder::make(payload("a@example.org"), k1);
    const QByteArray b = token_builder::make(payload("b@example.org"), k1);
    const QByteArray c = token_builder::make(payload("c@example.org"), k1);
    read_token(bearer(a), k1, cache);
    read_token(bearer(b), k1, cache);
    read_token(bearer(a), k1, cache); // a is used again, so b is now the oldest
    read_token(bearer(c), k1, cache);
    EXPECT_TRUE(cache.find(a, k1).has_value());
    EXPECT_FALSE(cache.find(b, k1).has_value());
    EXPECT_TRUE(cache.find(c, k1).has_value());
}

// Tokens are the callers' to choose: two made to share Qt's byte hash under any seed (a CRC,
// where this machine has the instruction for it; the same middles keep sharing it between the
// same other bytes) must not share the cache's.
TEST(TokenCache, TokensMadeToShareQtsHashDoNotShareTheCaches)
{
    const QByteArray a = "e30.xoeceioigagokcmaocmai.c2ln";
    const QByteArray b = "e30.xmcgiccgmimoigmegcgmo.c2ln";
    if (qHash(a, 1u) != qHash(b, 1u) || qHash(a, 12345u) != qHash(b, 12345u))
        GTEST_SKIP() << "Qt's byte hash is not a CRC here";
    EXPECT_NE(token_cache::hash_of(a, k1), token_cache::hash_of(b, k1));
    EXPECT_NE(token_cache::hash_of(a, k1), token_cache::hash_of(a, k2)) << "the key counts too";
}

} // namespace
