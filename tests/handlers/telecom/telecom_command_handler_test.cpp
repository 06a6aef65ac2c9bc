#include "routes/collector_set.h"
#include "routes/road_fixture.h"
#include "routes/server_set.h"

// The "device" paging rule on the in-process road with a scripted AMQP link.

namespace {

class telecom_handler_test : public road_fixture
{
protected:
    void SetUp() override
    {
        conf.CHECK_TOKEN_VALID = false;
        conf.CHECK_TOKEN_EXP_TIME = false;
        start<server_set>();
    }
};

TEST_F(telecom_handler_test, device_pages_are_shared_out_between_the_instances)
{
    struct row
    {
        const char* behaviour;
        int instances;
        QByteArray query;
        int status;
        QJsonObject data; // the command's, without "api_key"; or the refusal
    };
    const row rows[] = {
        { "halved for two", 2, "limit=64&offset=32", 200, { { "limit", 32 }, { "offset", 16 } } },
        { "truncated toward zero for three", 3, "limit=64&offset=32", 200,
            { { "limit", 21 }, { "offset", 10 } } },
        { "a negative multiple passes", 2, "limit=-32", 200, { { "limit", -16 } } },
        { "an offset without a limit is untouched", 2, "offset=33", 200, { { "offset", 33 } } },
        { "a misread instance count divides by one", 0, "limit=64&offset=32", 200,
            { { "limit", 64 }, { "offset", 32 } } },
        { "limit tested first", 2, "limit=33&offset=33", 406,
            { { "What", "limit should be divisible by 32" } } },
        { "then offset", 2, "limit=64&offset=33", 406,
            { { "What", "offset should be divisible by 32" } } },
    };
    for (const row& r : rows) {
        conf.SERSOFT_INST_COUNT = r.instances;
        api.commands.clear();
        const raw_response answer = request("GET", "/telecom/api/device?" + r.query, {}, {}, 300);
        if (r.status != 200) {
            EXPECT_EQ(answer.status, r.status) << r.behaviour;
            EXPECT_EQ(QJsonDocument::fromJson(answer.body).object(), r.data) << r.behaviour;
            EXPECT_TRUE(api.commands.empty()) << r.behaviour;
            continue;
        }
        ASSERT_EQ(api.commands.size(), 1u) << r.behaviour;
        QJsonObject data = api.commands[0].data;
        data.remove("api_key");
        EXPECT_EQ(data, r.data) << r.behaviour;
    }
    // The "_uspd" paths stand before the paths they begin with, in the server set only.
    EXPECT_EQ(server_set::match_handler("/telecom/api/send_dl_uspd").handler_path,
        "/telecom/api/send_dl_uspd");
    EXPECT_EQ(collector_set::match_handler("/telecom/api/send_dl_uspd").handler_path,
        "/telecom/api/send_dl");
}

} // namespace
