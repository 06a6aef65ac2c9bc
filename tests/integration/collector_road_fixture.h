#pragma once

#include "amqp/amqp_test_support.h"
#include "amqp/broker_probe.h"
#include "gateway_fixture.h"
#include "support/test_services.h"

#include <QJsonObject>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// The real gateway in the collector set with its main AMQP link on the private broker, and the
// scripted fake back-end answering there. Every test gets an exchange, a gateway queue and
// service routing keys of its own, so tests running side by side (or after each other) never
// see each other's commands or replies, and closing "this gateway's" connections is possible.
class collector_road_test : public gateway_fixture
{
protected:
    void SetUp() override;
    void TearDown() override;

    // The collector set, the main link on the broker, the user-database link on a closed port.
    QMap<QString, QString> collector_ini() const;
    // Starts the gateway with `ini` over collector_ini() and `env` added to its environment.
    void start_collector(
        const QMap<QString, QString>& ini = {}, const QMap<QString, QString>& env = {});
    // Waits until `links` links have their queue bound and their publisher connected, counting
    // from the `since`-th of each log line.
    bool wait_links_up(int links = 1, int since = 0);
    int log_count(const QByteArray& needle);

    // A fake back-end on this test's exchange, bound with `keys`, replying as `script` says
    // and recording every message it gets in record_path(name).
    std::unique_ptr<fake_backend_process> start_backend(
        const QString& name, const QStringList& keys, const QJsonObject& script);
    QString record_path(const QString& name) const;
    // The recorded messages, raw, in arrival order.
    QList<QByteArray> recorded(const QString& name) const;

    // One request with a token allowed everything on the three services.
    raw_response call(const QByteArray& method, const QByteArray& target,
        const QByteArray& body = {}, int wait_ms = 15000);
    static QByteArray service_token();
    QByteArray request_bytes(
        const QByteArray& method, const QByteArray& target, const QByteArray& body = {}) const;
    // The same with a token of the test's own.
    raw_response call_as(const QByteArray& token, const QByteArray& method,
        const QByteArray& target, const QByteArray& body = {}, int wait_ms = 15000);
    static QByteArray request_bytes_as(const QByteArray& token, const QByteArray& method,
        const QByteArray& target, const QByteArray& body = {});

    QString unique; // one random text per test
    QString exchange; // the main link's exchange
    QString gateway_queue; // the main link's queue, bound with the same routing key
    QString iec104_key, spodes_key, qobi_key; // the services' routing keys
    std::unique_ptr<broker_probe> probe;
    QTemporaryDir files;
};
