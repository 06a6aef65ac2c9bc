#pragma once

#include "collector_road_fixture.h"

#include <QProcess>

// The collector with the Redis access store: the private Redis (or one of the test's own), the
// application service's routing key on this test's exchange, ownership seeded with redis-cli
// under an API key of this test's own.
class modem_road_test : public collector_road_test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the gateway with `instances` application instances and the Redis store on `port`
    // (the private Redis when 0).
    void start_modem_gateway(int instances, int redis_port = 0);
    // The modems this test's API key owns, in database 2.
    void seed(const QStringList& modems, int redis_port = 0);
    // One request with a token of this test's API key, as an administrator or not (or with the
    // one role `role` when given).
    raw_response ask(const QByteArray& method, const QByteArray& target, bool admin = false,
        const QByteArray& body = {}, const QString& role = {});

    // redis-cli on database 2 of the Redis on `port`; its exit code, quietly.
    static int redis_cli(int port, const QStringList& args);

    QString remote_key; // the application service's routing key
    QString api_key;
};
