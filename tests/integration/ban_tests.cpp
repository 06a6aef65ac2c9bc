#include "gateway_fixture.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QThread>

namespace {

// Every executed millisecond is above a limit of 0 %, so one slow forward bans its caller at
// the next one-second tick; callers with the role "admin" are let through all the same.
TEST_F(gateway_fixture, load_above_the_limit_bans_all_but_admins)
{
    start_gateway({ { "GENERAL_SETTINGS/STATISTIC_PERIOD", "1" },
        { "GENERAL_SETTINGS/STATISTIC_BAN_LOAD", "0" } });
    target.script(http_target::behaviour::answer, http_target::default_answer(), 50);
    const auto user = bearer(token(payload("2.0", "busy@x")));
    ASSERT_EQ(get("/api/x", { user }).status, 200);

    raw_response refused;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 10000) {
        refused = get("/api/x", { user });
        if (refused.status == 429)
            break;
        QThread::msleep(100);
    }
    ASSERT_EQ(refused.status, 429) << refused.body.constData();
    EXPECT_TRUE(QRegularExpression(R"(^\{"What":"HTTP API load over permitted. Banned to )"
                                   R"(\d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d UTC"\}$)")
                    .match(QString::fromUtf8(refused.body))
                    .hasMatch())
        << refused.body.constData();
    EXPECT_EQ(refused.index_of("location"), -1);

    const QJsonObject admin
        = payload("2.0", "busy@x", QJsonObject { { "b", QJsonObject { { "admin", "" } } } });
    EXPECT_EQ(get("/api/x", { bearer(token(admin)) }).status, 200);
    EXPECT_EQ(get("/auth/x", { user }).status, 200) << "a handler without a token need";
    EXPECT_EQ(get("/api/x", { bearer(token(payload("2.0", "calm@x"))) }).status, 200);
}

} // namespace
