#include "qt_print.h"
#include "router/token_reader.h"
#include "token_builder.h"

#include <QJsonArray>
#include <functional>
#include <gtest/gtest.h>

namespace {

const QString key = QStringLiteral("secret");
const QJsonObject payload { { "email", "user@example.org" }, { "ver", "1.0" },
    { "claims", QJsonObject { { "b", QJsonObject { { "user", "" } } } } } };

QByteArray good()
{
    return token_builder::make(payload, key);
}
QByteArray foreign()
{
    return token_builder::make(payload, QStringLiteral("other"));
}

qhttp::THeaderHash bearer(const QByteArray& value)
{
    return { { "authorization", value } };
}

QByteArray signed_with(const std::function<QByteArray(const QByteArray&)>& signature)
{
    const QList<QByteArray> p = good().split('.');
    return p[0] + '.' + p[1] + '.' + token_builder::b64(signature(p[0] + '.' + p[1]));
}

QByteArray unpadded()
{
    const QByteArray p1 = token_builder::json_b64(QJsonObject { { "a", 1 } }).replace("=", "");
    const QByteArray p2 = token_builder::json_b64(payload).replace("=", "");
    return p1 + '.' + p2 + '.' + token_builder::sign(p1, p2, key).replace("=", "");
}

struct TakeCase
{
    const char* name;
    QByteArray cookie; // header left out when null
    QByteArray authorization;
    QString sign_key;
    bool valid; // a signed token's three parts are parsed, nobody else's
};

class TokenTaking : public ::testing::TestWithParam<TakeCase>
{ };

TEST_P(TokenTaking, FindsAndVerifiesTheToken)
{
    const TakeCase& c = GetParam();
    qhttp::THeaderHash headers;
    if (!c.cookie.isNull())
        headers.insert("cookie", c.cookie);
    if (!c.authorization.isNull())
        headers.insert("authorization", c.authorization);
    const HttpContext ctx = read_token(headers, c.sign_key);
    EXPECT_EQ(ctx.token_valid, c.valid);
    EXPECT_EQ(ctx.token_parts.size(), c.valid ? 3 : 0);
    EXPECT_EQ(ctx.sign_key, c.sign_key);
    EXPECT_EQ(ctx.email, c.valid ? QStringLiteral("user@example.org") : QString());
}

const QByteArray jwt = "VORNIX_JWT=";

INSTANTIATE_TEST_SUITE_P(Headers, TokenTaking,
    ::testing::Values(TakeCase { "no_headers", {}, {}, key, false },
        TakeCase { "cookie_alone", jwt + good(), {}, key, true },
        TakeCase { "cookie_after_another_cookie_blank_trimmed",
            "lang=en;   " + jwt + good() + "  ; x=1", {}, key, true },
        TakeCase { "first_cookie_item_with_marker_wins", jwt + foreign() + "; " + jwt + good(), {},
            key, false },
        TakeCase { "percent_encoded_full_stops", jwt + good().replace('.', "%2E"), {}, key, true },
        TakeCase { "marker_is_case_sensitive", "vornix_jwt=" + good(), {}, key, false },
        TakeCase { "bearer_capitalised", {}, "Bearer " + good(), key, true },
        TakeCase { "bearer_upper_case", {}, "BEARER " + good(), key, true },
        TakeCase { "two_spaces_make_three_words_ignored", {}, "Bearer  " + good(), key, false },
        TakeCase { "one_word_ignored", {}, good(), key, false },
        TakeCase {
            "ignored_header_keeps_cookie_token", jwt + good(), "Basic " + foreign(), key, true },
        TakeCase {
            "header_token_replaces_cookie_token", jwt + good(), "bearer " + foreign(), key, false },
        TakeCase {
            "header_token_wins_over_bad_cookie", jwt + foreign(), "bearer " + good(), key, true },
        TakeCase {
            "malformed_bearer_drops_cookie_token", jwt + good(), "bearer abc.def", key, false },
        TakeCase { "four_parts_not_verified", {}, "bearer " + good() + ".x", key, false },
        TakeCase { "padding_may_be_missing", {}, "bearer " + unpadded(), key, true },
        TakeCase { "upper_case_hex_signature", {}, "bearer " + signed_with([](const QByteArray& m) {
                      return token_builder::hmac_md5(m, key).toHex().toUpper();
                  }),
            key, false },
        TakeCase { "raw_digest_signature", {}, "bearer " + signed_with([](const QByteArray& m) {
                      return token_builder::hmac_md5(m, key);
                  }),
            key, false },
        TakeCase { "signature_over_decoded_json", {},
            "bearer " + signed_with([](const QByteArray& m) {
                const QList<QByteArray> p = m.split('.');
                return token_builder::hmac_md5(
                    QByteArray::fromBase64(p[0]) + '.' + QByteArray::fromBase64(p[1]), key)
                    .toHex();
            }),
            key, false },
        TakeCase { "signature_prefix_only", {}, "bearer " + signed_with([](const QByteArray& m) {
                      return token_builder::hmac_md5(m, key).toHex().left(31);
                  }),
            key, false },
        TakeCase { "wrong_key", jwt + good(), {}, QStringLiteral("nope"), false },
        TakeCase { "empty_sign_key_signs_and_verifies", jwt + token_builder::make(payload, ""), {},
            QString(), true }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TokenTaking, KeepsUndecodablePartsOfASignedTokenAsNullDocuments)
{
    const HttpContext ctx
        = read_token(bearer("bearer !!.e30." + token_builder::sign("!!", "e30", key)), key);
    ASSERT_TRUE(ctx.token_valid);
    ASSERT_EQ(ctx.token_parts.size(), 3);
    EXPECT_TRUE(ctx.token_parts.at(0).isNull());
    EXPECT_TRUE(ctx.token_parts.at(1).isObject()); // "e30" is {}
    EXPECT_TRUE(ctx.token_parts.at(2).isNull()); // hex digits are no JSON
}

// Parts that decode to good claims are not read, nor even parsed, unless the key's holder signed
// them: a context as empty as one without a token.
TEST(TokenTaking, UnsignedTokensAreNeverParsed)
{
    const QList<QByteArray> p = good().split('.');
    const QByteArray other_claims = token_builder::json_b64(QJsonObject { { "email", "x@y" } });
    const struct
    {
        const char* behaviour;
        QList<QByteArray> parts;
        QString sign_key;
    } rows[] = {
        { "signed with another key", p, QStringLiteral("other") },
        { "claims swapped under a good signature", { p[0], other_claims, p[2] }, key },
    };
    for (const auto& r : rows) {
        HttpContext ctx;
        ctx.sign_key = r.sign_key;
        verify_token(r.parts, ctx);
        EXPECT_FALSE(ctx.token_valid) << r.behaviour;
        EXPECT_TRUE(ctx.token_parts.isEmpty()) << r.behaviour;
        EXPECT_TRUE(ctx.email.isEmpty()) << r.behaviour;
        EXPECT_TRUE(ctx.api_keys.isEmpty()) << r.behaviour;
        EXPECT_TRUE(ctx.ver.isEmpty() && ctx.roles.isEmpty() && ctx.rights.isEmpty())
            << r.behaviour;
        EXPECT_FALSE(ctx.exp.isValid()) << r.behaviour;
    }
}

using Rights = QMap<QString, QMap<QString, QMap<QString, QString>>>;

struct ClaimCase
{
    const char* name;
    QJsonObject payload;
    QStringList api_keys;
    QDateTime exp;
    QString user_id;
    QString email;
    QString ver;
    QStringList roles;
    Rights rights;
};

class TokenClaims : public ::testing::TestWithParam<ClaimCase>
{ };

TEST_P(TokenClaims, FillsTheContext)
{
    const ClaimCase& c = GetParam();
    const HttpContext ctx
        = read_token(bearer("bearer " + token_builder::make(c.payload, key)), key);
    ASSERT_TRUE(ctx.token_valid);
    EXPECT_EQ(ctx.api_keys, c.api_keys);
    EXPECT_EQ(ctx.exp, c.exp);
    EXPECT_EQ(ctx.exp.timeSpec(), Qt::UTC);
    EXPECT_EQ(ctx.user_id, c.user_id);
    EXPECT_EQ(ctx.email, c.email);
    EXPECT_EQ(ctx.ver, c.ver);
    EXPECT_EQ(ctx.roles, c.roles);
    EXPECT_EQ(ctx.rights, c.rights);
}

const QDateTime epoch = QDateTime::fromSecsSinceEpoch(0, Qt::UTC);

QDateTime at(qint64 secs)
{
    return QDateTime::fromSecsSinceEpoch(secs, Qt::UTC);
}

INSTANTIATE_TEST_SUITE_P(Payloads, TokenClaims,
    ::testing::Values(
        ClaimCase { "version_2_rights_and_roles",
            QJsonObject { { "apiKeys", QJsonArray { "k1", "k2" } }, { "exp", 1700000000 },
                { "userId", "u1" }, { "email", "e@x" }, { "ver", "2.0" },
                { "claims",
                    QJsonObject {
                        { "gateway", QJsonObject { { "reboot", "GET" }, { "flag", true } } },
                        { "b", QJsonObject { { "user", "" }, { "admin", 1 } } } } } },
            { "k1", "k2" }, at(1700000000), "u1", "e@x", "2.0", { "admin", "user" },
            Rights { { "",
                { { "b", { { "admin", "" }, { "user", "" } } },
                    { "gateway", { { "flag", "" }, { "reboot", "GET" } } } } } } },
        ClaimCase { "fallback_keys",
            QJsonObject { { "apiKey", "k" }, { "account_id", "acc" }, { "headEmail", "h@x" } },
            { "k" }, epoch, "acc", "h@x", "", {}, {} },
        ClaimCase { "preferred_keys_win",
            QJsonObject { { "account_id", "acc" }, { "userId", "u" }, { "headEmail", "h@x" },
                { "email", "e@x" } },
            { "" }, epoch, "u", "e@x", "", {}, {} },
        ClaimCase {
            "no_api_key_gives_one_empty_key", QJsonObject {}, { "" }, epoch, "", "", "", {}, {} },
        ClaimCase { "empty_api_keys_array", QJsonObject { { "apiKeys", QJsonArray {} } }, {}, epoch,
            "", "", "", {}, {} },
        ClaimCase { "non_string_api_key_reads_empty",
            QJsonObject { { "apiKeys", QJsonArray { "a", 5 } }, { "userId", 7 } }, { "a", "" },
            epoch, "", "", "", {}, {} },
        ClaimCase { "ver_without_claims_stays_empty", QJsonObject { { "ver", "2.0" } }, { "" },
            epoch, "", "", "", {}, {} },
        ClaimCase { "version_3_keys_come_from_claims",
            QJsonObject { { "apiKeys", QJsonArray { "ignored" } }, { "apiKey", "ignored too" },
                { "ver", "3.0" },
                { "claims",
                    QJsonObject { { "k2",
                                      QJsonObject { { "b", QJsonObject { { "r2", "" } } },
                                          { "telecom", QJsonObject { { "stats", "POST" } } } } },
                        { "k1", QJsonObject { { "b", QJsonObject { { "r1", "" } } } } } } } },
            { "k1", "k2" }, epoch, "", "", "3.0", { "r2" },
            Rights { { "k1", { { "b", { { "r1", "" } } } } },
                { "k2", { { "b", { { "r2", "" } } }, { "telecom", { { "stats", "POST" } } } } } } },
        ClaimCase { "other_version_reads_roles_only",
            QJsonObject { { "ver", "1.5" },
                { "claims",
                    QJsonObject { { "b", QJsonObject { { "x", 1 } } },
                        { "g", QJsonObject { { "r", "" } } } } } },
            { "" }, epoch, "", "", "1.5", { "x" }, {} },
        ClaimCase { "exp_negative_whole_number", QJsonObject { { "exp", -1 } }, { "" }, at(-1), "",
            "", "", {}, {} },
        ClaimCase { "exp_at_32_bit_limit", QJsonObject { { "exp", 2147483647.0 } }, { "" },
            at(2147483647), "", "", "", {}, {} },
        ClaimCase { "exp_beyond_32_bits", QJsonObject { { "exp", 2147483648.0 } }, { "" }, epoch,
            "", "", "", {}, {} },
        ClaimCase { "exp_with_fraction", QJsonObject { { "exp", 1700000000.5 } }, { "" }, epoch, "",
            "", "", {}, {} },
        ClaimCase { "exp_as_string", QJsonObject { { "exp", "1700000000" } }, { "" }, epoch, "", "",
            "", {}, {} }),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
