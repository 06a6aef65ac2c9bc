#include "router/access_bs.h"
#include "router/forward_handlers.h"
#include "router/http_exception.h"
#include "routes/collector_set.h"
#include "routes/gateway_set.h"
#include "routes/handler_dispatch.h"
#include "routes/request_routing.h"
#include "routes/server_set.h"

#include <gtest/gtest.h>

namespace {

struct DlQueueRoute
{
    static constexpr const char* handler_path = "/api/dl_queue";
    static constexpr bool need_token = true;
};
struct DlRoute
{
    static constexpr const char* handler_path = "/api/dl";
    static constexpr bool need_token = true;
};
struct InfoRoute
{
    static QString handler_path() { return QStringLiteral("/api/info"); }
    static constexpr bool need_token = false;
};
struct ApiRoute
{
    static constexpr const char* handler_path = "/api";
    static constexpr bool need_token = true;
};
using ordered_routes = handler_set<DlQueueRoute, DlRoute, InfoRoute, ApiRoute>;

struct match_case
{
    const char* behaviour;
    const char* path;
    int index; // -1: no handler
    bool need_token;
};

class route_match_test : public ::testing::TestWithParam<match_case>
{ };

TEST_P(route_match_test, first_prefix_in_list_order_wins)
{
    const match_case& c = GetParam();
    if (c.index < 0) {
        try {
            ordered_routes::match_handler(QString::fromUtf8(c.path));
            FAIL() << c.behaviour;
        } catch (const http_exception& e) {
            EXPECT_EQ(e.status(), 404u) << c.behaviour;
            EXPECT_EQ(e.message(), "handler not found") << c.behaviour;
            EXPECT_TRUE(e.location().isEmpty()) << c.behaviour;
        }
        return;
    }
    const route_match m = ordered_routes::match_handler(QString::fromUtf8(c.path));
    EXPECT_EQ(int(m.index), c.index) << c.behaviour;
    EXPECT_EQ(m.need_token, c.need_token) << c.behaviour;
    EXPECT_EQ(m.handler_path, ordered_routes::paths()[c.index]) << c.behaviour;
}

INSTANTIATE_TEST_SUITE_P(rows, route_match_test,
    ::testing::Values(
        match_case { "a longer path listed first takes its own paths", "/api/dl_queue/7", 0, true },
        match_case { "the shorter path takes the rest of its prefix", "/api/dl", 1, true },
        match_case { "a prefix test, not a segment test", "/api/dlx", 1, true },
        match_case { "a path given by a function matches the same way", "/api/info", 2, false },
        match_case { "the shortest prefix catches what is left", "/apix", 3, true },
        match_case { "matching is case-sensitive", "/API/dl", -1, false },
        match_case { "a path shorter than every prefix matches nothing", "/ap", -1, false },
        match_case { "an empty path matches nothing", "", -1, false }));

struct RootRoute
{
    static constexpr bool need_token = false;
    static constexpr const char* handler_path = "/";
};

// Handlers are told apart by the character after "/" before they are compared whole: a path of
// one character, or one that shares only that character, must still find its handler.
TEST(route_prefilter, short_paths_and_shared_first_letters_still_match_in_order)
{
    using routes = handler_set<DlQueueRoute, ApiRoute, RootRoute>;
    const struct
    {
        const char* path;
        int index; // -1: no handler
    } rows[] = { { "/api/dl_queue", 0 }, { "/apx", 2 }, { "/a", 2 }, { "/", 2 }, { "", -1 } };
    for (const auto& row : rows) {
        const std::optional<route_match> m = routes::find_handler(QString::fromUtf8(row.path));
        EXPECT_EQ(m ? int(m->index) : -1, row.index) << row.path;
    }
}

struct set_case
{
    const char* behaviour;
    handler_set_kind set;
    const char* path;
    const char* handler_path; // nullptr: no handler
    bool need_token;
};

route_match match_in(handler_set_kind set, const QString& path)
{
    switch (set) {
    case handler_set_kind::gateway:
        return gateway_set::match_handler(path);
    case handler_set_kind::collector:
        return collector_set::match_handler(path);
    case handler_set_kind::server:
        break;
    }
    return server_set::match_handler(path);
}

class handler_list_test : public ::testing::TestWithParam<set_case>
{ };

TEST_P(handler_list_test, each_set_routes_its_own_families)
{
    const set_case& c = GetParam();
    if (!c.handler_path) {
        EXPECT_THROW(match_in(c.set, c.path), http_exception) << c.behaviour;
        return;
    }
    const route_match m = match_in(c.set, c.path);
    EXPECT_EQ(m.handler_path, c.handler_path) << c.behaviour;
    EXPECT_EQ(m.need_token, c.need_token) << c.behaviour;
}

INSTANTIATE_TEST_SUITE_P(rows, handler_list_test,
    ::testing::Values(set_case { "the gateway hands the modem API on", handler_set_kind::gateway,
                          "/api/access/bs", "/api", true },
        set_case { "the gateway hands the telecom API on", handler_set_kind::gateway,
            "/telecom/api/stats", "/telecom", true },
        set_case { "the gateway's login service needs no token", handler_set_kind::gateway,
            "/auth/login", "/auth", false },
        set_case { "the gateway forwards SPODES routes", handler_set_kind::gateway,
            "/spodes_to_tornel/x", "/spodes_to_tornel/", true },
        set_case { "the collector answers /api/access/bs itself", handler_set_kind::collector,
            "/api/access/bs", "/api/access/bs", true },
        set_case { "the collector forwards sessions", handler_set_kind::collector, "/sessions/list",
            "/sessions", true },
        set_case { "the collector has no login forward", handler_set_kind::collector, "/auth",
            nullptr, false },
        set_case { "the server's new login service needs no token", handler_set_kind::server,
            "/new_auth/token", "/new_auth", false },
        set_case { "the server does not forward sessions", handler_set_kind::server, "/sessions",
            nullptr, false },
        set_case { "the server's queue before its downlinks", handler_set_kind::server,
            "/api/dl_queue?mode=x", "/api/dl_queue", true },
        set_case { "the server's version list before its settings", handler_set_kind::server,
            "/driver_tornel/api/setting/version_list", "/driver_tornel/api/setting/version_list",
            true },
        set_case { "the server's station load", handler_set_kind::server,
            "/driver_tornel/api/RAM/bs", "/driver_tornel/api/RAM/bs", true },
        set_case { "the collector's modem list", handler_set_kind::collector,
            "/driver_tornel/api/RAM/modems", "/driver_tornel/api/RAM/modems", true },
        set_case { "modem information needs no token", handler_set_kind::server, "/api/info",
            "/api/info", false },
        set_case { "the collector's modem information neither", handler_set_kind::collector,
            "/api/info", "/api/info", false },
        set_case { "the driver's information needs no token", handler_set_kind::server,
            "/driver_tornel/api/info", "/driver_tornel/api/info", false },
        set_case { "the collector's driver information neither", handler_set_kind::collector,
            "/driver_tornel/api/info", "/driver_tornel/api/info", false },
        set_case { "the collector services are the collector's only", handler_set_kind::server,
            "/iec104/api/version", nullptr, false }));

TEST(handler_set_choice, follows_the_two_switches)
{
    struct row
    {
        bool gatewebface;
        bool forward;
        handler_set_kind expected;
    };
    const row rows[] = {
        { false, true, handler_set_kind::server },
        { false, false, handler_set_kind::server },
        { true, true, handler_set_kind::gateway },
        { true, false, handler_set_kind::collector },
    };
    for (const row& r : rows) {
        global_conf conf;
        conf.GATEWEBFACE = r.gatewebface;
        conf.FORWARD_TORNEL_APPSANDBOX = r.forward;
        EXPECT_EQ(choose_handler_set(conf), r.expected)
            << "GATEWEBFACE " << r.gatewebface << " FORWARD " << r.forward;
    }
}

} // namespace
