#pragma once

#include "http_target.h"
#include "routes/test_token.h"
#include "support/gateway_process.h"
#include "support/raw_http.h"

#include <QDateTime>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <memory>

// The real gateway binary with its forward targets pointed at one local HTTP target. The
// in-memory access store is used and both AMQP links point at a closed port, unless a test
// says otherwise.
class gateway_fixture : public ::testing::Test
{
protected:
    static constexpr const char* sign_key = "itest-sign-key";

    // A sanitizer build of the gateway reports what it found on its output.
    void TearDown() override;

    // Starts the gateway; `ini` entries override the defaults.
    void start_gateway(const QMap<QString, QString>& ini = {});
    QMap<QString, QString> default_ini() const;

    raw_response get(
        const QByteArray& target, const QList<QPair<QByteArray, QByteArray>>& headers = {})
    {
        return raw_http::request(gateway->port(), "GET", target, headers);
    }

    static QByteArray token(const QJsonObject& payload) { return make_token(payload, sign_key); }
    // A version 2.0 token of `email` that expires tomorrow, allowing every right of `group`.
    static QJsonObject payload(const QString& ver = "2.0", const QString& email = "user@x",
        const QJsonObject& claims = {});
    static qint64 tomorrow() { return QDateTime::currentSecsSinceEpoch() + 86400; }
    static QPair<QByteArray, QByteArray> bearer(const QByteArray& t)
    {
        return { "Authorization", "Bearer " + t };
    }

    http_target target;
    std::unique_ptr<gateway_process> gateway;
};
