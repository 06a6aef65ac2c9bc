#include "qt_print.h"
#include "router/rights.h"

#include <gtest/gtest.h>

namespace {

struct CheckCase
{
    const char* name;
    scope_rights rights;
    const char* group;
    const char* right;
    const char* method;
    bool allowed;
};

class CheckRights : public ::testing::TestWithParam<CheckCase>
{ };

TEST_P(CheckRights, DecidesOneScope)
{
    const CheckCase& c = GetParam();
    EXPECT_EQ(check_rights(c.rights, c.group, c.right, c.method), c.allowed);
}

INSTANTIATE_TEST_SUITE_P(Entries, CheckRights,
    ::testing::Values(CheckCase { "missing_group_refused_despite_admin_elsewhere",
                          { { "other", { { "admin", "" }, { "reboot", "" } } } }, "gateway",
                          "reboot", "GET", false },
        CheckCase {
            "empty_group_refused", { { "gateway", {} } }, "gateway", "reboot", "GET", false },
        CheckCase { "allow_empty_text_allows_all", { { "gateway", { { "reboot", "" } } } },
            "gateway", "reboot", "DELETE", true },
        CheckCase { "allow_admin_text_allows_all", { { "gateway", { { "reboot", "admin" } } } },
            "gateway", "reboot", "PUT", true },
        CheckCase { "deny_empty_beats_allow_empty",
            { { "gateway", { { "!reboot", "" }, { "reboot", "" } } } }, "gateway", "reboot", "GET",
            false },
        CheckCase { "deny_admin_text_denies_all",
            { { "gateway", { { "!reboot", "admin" }, { "admin", "" } } } }, "gateway", "reboot",
            "POST", false },
        CheckCase { "deny_get_refuses_get",
            { { "gateway", { { "!reboot", "GET" }, { "reboot", "" } } } }, "gateway", "reboot",
            "GET", false },
        CheckCase { "deny_get_lets_post_through",
            { { "gateway", { { "!reboot", "GET" }, { "reboot", "" } } } }, "gateway", "reboot",
            "POST", true },
        CheckCase { "deny_not_matching_falls_to_fallback",
            { { "gateway", { { "!reboot", "GET" }, { "admin", "x" } } } }, "gateway", "reboot",
            "POST", true },
        CheckCase { "deny_not_matching_no_fallback", { { "gateway", { { "!reboot", "GET" } } } },
            "gateway", "reboot", "POST", false },
        CheckCase { "allow_get_refuses_post", { { "gateway", { { "reboot", "GET" } } } }, "gateway",
            "reboot", "POST", false },
        CheckCase { "allow_get_with_admin_entry_allows_post",
            { { "gateway", { { "reboot", "GET" }, { "admin", "GET" } } } }, "gateway", "reboot",
            "POST", true },
        CheckCase { "only_admin_entry_allows_anything", { { "gateway", { { "admin", "" } } } },
            "gateway", "anything", "DELETE", true },
        CheckCase { "methods_run_together_allow_both",
            { { "gateway", { { "reboot", "GETPOST" } } } }, "gateway", "reboot", "POST", true },
        CheckCase { "lower_case_method_text_allows_nothing",
            { { "gateway", { { "reboot", "get" } } } }, "gateway", "reboot", "GET", false },
        CheckCase { "other_right_not_granted", { { "gateway", { { "time", "" } } } }, "gateway",
            "reboot", "GET", false }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AllowedRights, ListsTheScopesThatAllowInKeyOrder)
{
    const token_rights rights {
        { "k3", { { "telecom", { { "stats", "GET" } } } } },
        { "k1", { { "telecom", { { "admin", "" } } } } },
        { "k2", { { "telecom", { { "stats", "POST" } } } } },
        { "k0", { { "gateway", { { "admin", "" } } } } },
    };
    EXPECT_EQ(allowed_rights(rights, "telecom", "stats", "GET"), QStringList({ "k1", "k3" }));
    EXPECT_EQ(allowed_rights(rights, "telecom", "stats", "POST"), QStringList({ "k1", "k2" }));
    EXPECT_TRUE(allowed_rights(rights, "modem", "stats", "GET").isEmpty());
    EXPECT_TRUE(allowed_rights(token_rights(), "telecom", "stats", "GET").isEmpty());
}

struct TargetCase
{
    const char* path;
    bool checked;
    const char* group;
    const char* right;
};

class RightsTarget : public ::testing::TestWithParam<TargetCase>
{ };

TEST_P(RightsTarget, DerivesGroupAndRightFromHandlerPath)
{
    const TargetCase& c = GetParam();
    const auto target = rights_target(c.path);
    ASSERT_EQ(target.has_value(), c.checked) << c.path;
    if (target) {
        EXPECT_EQ(target->first, QString(c.group)) << c.path;
        EXPECT_EQ(target->second, QString(c.right)) << c.path;
    }
}

INSTANTIATE_TEST_SUITE_P(HandlerPaths, RightsTarget,
    ::testing::Values(TargetCase { "/api/dl_queue", true, "appsandbox", "dl_queue" },
        TargetCase { "/api/access/bs", true, "appsandbox", "access_bs" },
        TargetCase { "/telecom/api/stats", true, "telecom", "stats" },
        TargetCase { "/driver_tornel/api/cmd/send", true, "driver_tornel", "cmd_send" },
        TargetCase { "/gateway/reboot", true, "gateway", "reboot" },
        TargetCase { "/dravemon/update", true, "dravemon", "update" },
        TargetCase { "/iec104/api/", true, "iec104", "" },
        TargetCase { "/a/b/c/d/e", true, "a", "b_c" },
        TargetCase { "/api/api/x", true, "appsandbox", "x" },
        TargetCase { "/update/ls", false, "", "" }, TargetCase { "/update/md5/", false, "", "" },
        TargetCase { "/telecom", false, "", "" }, TargetCase { "/api", false, "", "" },
        TargetCase { "", false, "", "" }));

} // namespace
