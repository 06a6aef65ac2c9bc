#include "driver_road_fixture.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

// The meter-driver paths end to end: download indexes kept in the real Redis, commands and
// replies through the real broker, the collector's file in the gateway's working directory.

namespace {

QJsonObject object_of(const QByteArray& json)
{
    return QJsonDocument::fromJson(json).object();
}

QJsonArray one_reply(const QJsonObject& data)
{
    return QJsonArray { QJsonObject { { "data", data } } };
}

TEST_F(driver_road_test, a_sent_command_is_followed_by_the_index_it_was_answered)
{
    const QString a = "db-a-" + unique, b = "db-b-" + unique, c = "db-c-" + unique;
    start_driver({ { "send_dl_msg",
                       one_reply({ { "5", QJsonObject { { "bd_id", a } } },
                           { "6", QJsonObject { { "bd_id", b } } },
                           { "7", QJsonObject { { "bd_id", c } } }, { "8", QJsonObject() } }) },
        { "status_dl_msg",
            one_reply({ { a, QJsonObject { { "dl_status", "EXECUTED" } } },
                { b, QJsonObject { { "dl_status", "TIMEOUT" } } },
                { c, QJsonObject { { "dl_status", "QUEUED" } } } }) } });
    if (HasFatalFailure())
        return;

    const raw_response sent = call("GET", "/driver_tornel/api/cmd/send?modem=5,6,7,8&code=1");
    ASSERT_EQ(sent.status, 200) << sent.body.constData();
    const QJsonObject indexes = object_of(sent.body).value("cmd_id").toObject();
    ASSERT_EQ(indexes.keys(), QStringList({ "5", "6", "7", "8" })) << sent.body.constData();
    EXPECT_EQ(indexes.value("8").toInt(), 0); // no database id: nothing registered
    QStringList index_texts;
    const QPair<QString, QString> modems[] = { { "5", a }, { "6", b }, { "7", c } };
    for (const auto& [modem, db_id] : modems) {
        const int index = indexes.value(modem).toInt();
        EXPECT_GT(index, 0);
        index_texts << QString::number(index);
        EXPECT_EQ(dl_map_field("tornel_dl:index", QByteArray::number(index)), db_id.toUtf8());
        EXPECT_EQ(dl_map_field("tornel_dl:db_id", db_id.toUtf8()), QByteArray::number(index));
    }

    const raw_response status
        = call("GET", "/driver_tornel/api/cmd/status?cmd_id=" + index_texts.join(',').toUtf8());
    ASSERT_EQ(status.status, 200) << status.body.constData();
    EXPECT_EQ(object_of(status.body),
        QJsonObject({ { index_texts[0], "DONE" }, { index_texts[1], "FAILED" },
            { index_texts[2], "QUEUED" } }));
    const QJsonObject asked = object_of(recorded("driver").last()).value("data").toObject();
    EXPECT_EQ(asked, QJsonObject({ { "db_id", QJsonArray { a, b, c } } }));

    const raw_response unknown
        = call("GET", "/driver_tornel/api/cmd/status?cmd_id=" + index_texts[0].toUtf8() + ",-7");
    EXPECT_EQ(unknown.status, 403);
    EXPECT_EQ(unknown.body, R"({"What":"Unknown cmd_id: -7"})");
    EXPECT_EQ(recorded("driver").size(), 2);
}

TEST_F(driver_road_test, info_reads_the_collector_file_afresh_and_needs_no_token)
{
    start_driver(
        { { "get_info", one_reply({ { "drv", QJsonObject { { "build timestamp", 7 } } } }) } });
    if (HasFatalFailure())
        return;

    const raw_response without = get("/driver_tornel/api/info");
    ASSERT_EQ(without.status, 200) << without.body.constData();
    QJsonObject answer = object_of(without.body);
    EXPECT_EQ(answer.value("SW").toObject(), QJsonObject());
    EXPECT_EQ(answer.value("build_ts").toInt(), 7);
    EXPECT_EQ(answer.value("time").toObject().keys(), QStringList({ "dt", "timestamp" }));

    QFile file(gateway->dir() + "/uspd_info.json");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({"SW":{"version":"3.1"},"time":{"zone":5},"serial":"x"})");
    file.close();
    const raw_response with = get("/driver_tornel/api/info");
    ASSERT_EQ(with.status, 200) << with.body.constData();
    answer = object_of(with.body);
    EXPECT_EQ(answer.keys(), QStringList({ "SW", "build_dt", "build_ts", "time" }));
    EXPECT_EQ(answer.value("SW").toObject(), QJsonObject({ { "version", "3.1" } }));
    EXPECT_EQ(answer.value("time").toObject().value("zone").toInt(), 5);
    EXPECT_NEAR(answer.value("time").toObject().value("timestamp").toDouble(),
        double(QDateTime::currentSecsSinceEpoch()), 60);
}

} // namespace
