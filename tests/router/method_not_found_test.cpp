#include "router/gateway_paths.h"
#include "router/http_exception.h"
#include "router/method_not_found.h"

#include "qt_print.h"

#include <gtest/gtest.h>

namespace {

TEST(MethodNotFound, DeleteHasAnEmptyMessageOthersSayNotFound)
{
    struct Case
    {
        int method;
        const char* message;
    };
    const Case cases[] = {
        { qhttp::EHTTP_DELETE, "" }, { qhttp::EHTTP_GET, "method not found" },
        { qhttp::EHTTP_HEAD, "method not found" }, { qhttp::EHTTP_PUT, "method not found" },
        { 6, "method not found" }, // OPTIONS
    };
    for (const Case& c : cases) {
        try {
            throw_method_not_found(c.method);
            ADD_FAILURE() << "no exception for method " << c.method;
        } catch (const http_exception& e) {
            EXPECT_EQ(e.status(), 404u) << c.method;
            EXPECT_EQ(e.message(), QString(c.message)) << c.method;
            EXPECT_TRUE(e.location().isEmpty()) << c.method;
        }
    }
}

TEST(GatewayPaths, ReadParamsPath)
{
    EXPECT_EQ(gateway_read_params_path(), "/gateway/read_params");
}

} // namespace
