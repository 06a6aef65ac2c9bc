#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVariant>
#include <amqp.h>
#include <optional>

// A blocking helper connection of the test's own on the private broker: it declares what the
// links expect to exist, publishes as a peer would and looks at what the links published.
class broker_probe
{
public:
    explicit broker_probe(const QString& vhost = "/api");
    ~broker_probe();
    broker_probe(const broker_probe&) = delete;
    broker_probe& operator=(const broker_probe&) = delete;
    bool ok() const { return conn_ != nullptr; }

    struct message
    {
        QByteArray body;
        QString content_type;
        QString routing_key;
    };

    bool declare_exchange(const QString& name);
    void delete_exchange(const QString& name);
    // A plain queue bound with one routing key (or none when key is null).
    bool declare_queue(const QString& name, const QString& exchange = {}, const QString& key = {});
    void delete_queue(const QString& name);
    bool publish(const QString& exchange, const QString& key, const QByteArray& body,
        const QString& content_type = "text/plain");
    std::optional<message> get(const QString& queue);
    // Polls with get while the event loop runs.
    std::optional<message> wait_get(const QString& queue, int timeout_ms = 10000);

private:
    bool rpc_ok();
    amqp_connection_state_t conn_ = nullptr;
};
