#pragma once

#include "collector_road_fixture.h"

// The real gateway in the server set (the full API) with its main AMQP link on the private
// broker: the collector's road with the telecom back-end's routing keys of this test.
class server_road_test : public collector_road_test
{
protected:
    void SetUp() override;

    // Starts the server set with `instances` telecom back-end instances; `ini` on top.
    void start_server(int instances, const QMap<QString, QString>& ini = {});

    // A token of `email` with every telecom right; "admin" among its roles when asked.
    static QByteArray telecom_token(
        const QString& email, bool admin, const QStringList& api_keys = { "key-1" });

    QString sersoft_key, uspd_key;
};
