#include "app/dependency_container.h"
#include "road_fixture.h"

#include <gtest/gtest.h>
#include <memory>

namespace {

// Containers are copied for every request and every handler: the copies must share the records
// of the ini reading they were built from, and keep them alive, never copy them.
TEST(DependencyContainer, CopiesShareTheRecordsAndKeepThemAlive)
{
    auto conf = std::make_shared<global_conf>();
    conf->SIGN_KEY = QStringLiteral("k1");
    auto rabbit = std::make_shared<rabbit_api_config>();
    rabbit->queue = QStringLiteral("q1");
    const request_settings settings { conf, rabbit };
    const global_conf* conf_record = conf.get();
    const rabbit_api_config* rabbit_record = rabbit.get();

    logger log(QStringLiteral("stderr"), QString(), LOG_OFF);
    null_access access;
    fake_command_client api;
    statistic_map statistics;
    auto container = std::make_unique<dependency_container>(
        build_injector(settings, log, nullptr, statistics, access, api));
    conf.reset();
    rabbit.reset();

    HttpContext context;
    context.email = QStringLiteral("a@b");
    const request_container for_handler = make_request_container(*container, context);
    container.reset(); // the request's copy outlives the one it was made from
    EXPECT_EQ(&for_handler.conf, conf_record);
    EXPECT_EQ(&for_handler.rabbit_config, rabbit_record);
    EXPECT_EQ(for_handler.conf.SIGN_KEY, "k1");
    EXPECT_EQ(for_handler.rabbit_config.queue, "q1");
    EXPECT_EQ(for_handler.context.email, "a@b");
    EXPECT_EQ(&for_handler.statistics, &statistics);
}

} // namespace
