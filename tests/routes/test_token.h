#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>

// A token as the gateway reads it: Base64 header and claims, and the Base64 of the lower-case
// hexadecimal HMAC-MD5 of the first two parts joined by ".". A payload given as JSON text goes
// as it stands, repeated keys and all.
inline QByteArray make_token(const QByteArray& payload_json, const QByteArray& sign_key)
{
    const QByteArray head = QJsonDocument(QJsonObject { { "alg", "HS256" } })
                                .toJson(QJsonDocument::Compact)
                                .toBase64();
    const QByteArray signed_part = head + "." + payload_json.toBase64();
    const QByteArray mac
        = QMessageAuthenticationCode::hash(signed_part, sign_key, QCryptographicHash::Md5).toHex();
    return signed_part + "." + mac.toBase64();
}

inline QByteArray make_token(const QJsonObject& payload, const QByteArray& sign_key)
{
    return make_token(QJsonDocument(payload).toJson(QJsonDocument::Compact), sign_key);
}
