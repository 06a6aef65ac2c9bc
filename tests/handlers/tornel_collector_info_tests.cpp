#include "handlers/modem/tornel_collector_info.h"

#include "router/qt_print.h"
#include "tornel_json.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

namespace {

// Local time is UTC for these tests, so the date texts are fixed.
class tornel_collector_info : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char* tz = std::getenv("TZ");
        saved_tz = tz ? QByteArray(tz) : QByteArray();
        had_tz = tz != nullptr;
        qputenv("TZ", "UTC");
        tzset();
    }
    void TearDown() override
    {
        if (had_tz)
            qputenv("TZ", saved_tz);
        else
            qunsetenv("TZ");
        tzset();
    }
    QByteArray saved_tz;
    bool had_tz = false;
};

TEST_F(tornel_collector_info, answers_the_file_the_clock_and_the_first_build_time)
{
    struct row
    {
        const char* behaviour;
        const char* merged;
        QByteArray file;
        const char* answer;
    };
    const char* const clock = R"("dt":"2023.11.14 22:13:20","timestamp":1700000000)";
    const row rows[] = {
        { "SW as in the file, time with the clock laid over, other keys left out",
            R"({"b":{"build timestamp":2},"a":{"build timestamp":86400}})",
            R"({"SW":{"v":"1.2"},"time":{"zone":3,"dt":"old"},"other":1})",
            R"({"SW":{"v":"1.2"},"build_dt":"1970.01.02 00:00:00","build_ts":86400,"time":{%1,"zone":3}})" },
        { "a time that is no object, a build time that is no integer",
            R"({"a":{"build timestamp":1.5}})", R"({"SW":[1],"time":"x"})",
            R"({"SW":{},"build_dt":"1970.01.01 00:00:00","build_ts":0,"time":{%1}})" },
        { "no file, no reply key", "{}", "",
            R"({"SW":{},"build_dt":"1970.01.01 00:00:00","build_ts":0,"time":{%1}})" },
    };
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    for (const row& r : rows) {
        EXPECT_EQ(compact(collector_info_answer(json_object(r.merged), r.file, now)),
            QString(r.answer).arg(clock).toStdString())
            << r.behaviour;
    }
}

TEST_F(tornel_collector_info, the_file_is_read_from_the_working_directory_on_every_reply)
{
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const auto answer_sw = [] {
        instance_replies replies(1);
        QJsonDocument reply = json_doc("{}");
        EXPECT_TRUE(tornel_info_reply(reply, replies));
        return reply.object().value("SW").toObject();
    };
    EXPECT_EQ(answer_sw(), QJsonObject());
    QFile file(dir.filePath("uspd_info.json"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({"SW":{"v":"2"}})");
    file.close();
    EXPECT_EQ(answer_sw(), QJsonObject({ { "v", "2" } }));
    QDir::setCurrent(previous);
}

} // namespace
