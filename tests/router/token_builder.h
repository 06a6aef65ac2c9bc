#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QString>

// Builds access tokens the way an issuer does: Base64 of the JSON header and payload, and
// Base64 of the lower-case hex HMAC-MD5 over "P1.P2" as text.
namespace token_builder {

inline QByteArray b64(const QByteArray& bytes)
{
    return bytes.toBase64();
}

inline QByteArray json_b64(const QJsonObject& object)
{
    return b64(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

inline QByteArray hmac_md5(const QByteArray& message, const QString& key)
{
    return QMessageAuthenticationCode::hash(message, key.toUtf8(), QCryptographicHash::Md5);
}

inline QByteArray sign(const QByteArray& p1, const QByteArray& p2, const QString& key)
{
    return b64(hmac_md5(p1 + '.' + p2, key).toHex());
}

inline QJsonObject default_header()
{
    return QJsonObject { { "alg", "HS256" }, { "typ", "JWT" } };
}

inline QByteArray make(const QJsonObject& payload, const QString& key)
{
    const QByteArray p1 = json_b64(default_header());
    const QByteArray p2 = json_b64(payload);
    return p1 + '.' + p2 + '.' + sign(p1, p2, key);
}

} // namespace token_builder
