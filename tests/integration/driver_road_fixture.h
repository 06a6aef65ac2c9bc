#pragma once

#include "collector_road_fixture.h"

#include <QByteArray>
#include <QJsonObject>

// The real gateway in the collector set with the Redis access store, its driver commands going
// to a routing key of this test's own, answered by the scripted back-end on the real broker.
class driver_road_test : public collector_road_test
{
protected:
    void SetUp() override;

    // Token checks on, API-key and rights checks off: the download-index map is under test.
    void start_driver(const QJsonObject& script);
    // One field of a hash in the Redis database of the download-index map; empty when absent.
    static QByteArray dl_map_field(const QByteArray& hash, const QByteArray& field);

    QString remote_key; // R_REMOTE_ROUTE_KEY
    std::unique_ptr<fake_backend_process> driver;
};
