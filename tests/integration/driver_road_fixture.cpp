#include "driver_road_fixture.h"

#include "access/redis_connection.h"

void driver_road_test::SetUp()
{
    GORVEX_NEED_REDIS();
    collector_road_test::SetUp();
    remote_key = "remote." + unique;
}

void driver_road_test::start_driver(const QJsonObject& script)
{
    driver = start_backend("driver", { remote_key }, script);
    ASSERT_TRUE(driver->ready());
    start_collector({ { "GENERAL_SETTINGS/RAM_USER_DB_SERVICE", "" },
        { "GENERAL_SETTINGS/CHECK_TOKEN_API_KEY", "DISABLE" },
        { "GENERAL_SETTINGS/CHECK_TOKEN_CLAIMS", "DISABLE" },
        { "GENERAL_SETTINGS/R_REMOTE_ROUTE_KEY", remote_key },
        { "REDIS_SETTINGS/HOST", "127.0.0.1" },
        { "REDIS_SETTINGS/PORT", QString::number(test_services::redis_port()) } });
    ASSERT_TRUE(wait_links_up()) << gateway->output().constData();
}

QByteArray driver_road_test::dl_map_field(const QByteArray& hash, const QByteArray& field)
{
    redis_settings settings;
    settings.HOST = "127.0.0.1";
    settings.PORT = quint32(test_services::redis_port());
    RedisClient::Connection redis(settings, 5000);
    redis.connect();
    return redis.command({ "HGET", hash, field }, 5).str;
}
