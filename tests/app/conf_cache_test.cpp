#include "app/config_factory.h"
#include "app/file_stamp.h"

#include "temp_ini.h"

#include <QDir>
#include <QFile>
#include <chrono>
#include <ctime>
#include <functional>
#include <gtest/gtest.h>

namespace {

using std::chrono::milliseconds;

QByteArray general(const char* sign_key)
{
    return QByteArray("[GENERAL_SETTINGS]\nSIGN_KEY=") + sign_key + "\nSTATISTIC_PERIOD=7\n"
        + "[AMQP_API_SETTINGS]\nR_QUEUE=q_" + sign_key + "\n";
}

void expect_same(const global_conf& a, const global_conf& b)
{
    EXPECT_EQ(a.SIGN_KEY, b.SIGN_KEY);
    EXPECT_EQ(a.STATISTIC_PERIOD, b.STATISTIC_PERIOD);
    EXPECT_EQ(a.INDEX_REDIRECT, b.INDEX_REDIRECT);
    EXPECT_EQ(a.AUTH_REDIRECT, b.AUTH_REDIRECT);
    EXPECT_EQ(a.start_time, b.start_time);
}

// Cached reads are trusted at once here, so the tests see the stamp comparison alone.
TEST(ConfCache, UnchangedFileIsNotParsedAgain)
{
    temp_ini ini;
    ini.write(general("k1"));
    const config_factory factory(ini.path(), milliseconds(0));

    const global_conf first = factory.read_global_conf();
    const rabbit_api_config api = factory.read_rabbit_api_config();
    factory.read_ram_rabbit_api_config();
    const std::uint64_t parsed = factory.parse_count();
    EXPECT_EQ(parsed, 3u);
    for (int i = 0; i < 5; ++i) {
        expect_same(factory.read_global_conf(), first);
        EXPECT_EQ(factory.read_rabbit_api_config().queue, api.queue);
        factory.read_ram_rabbit_api_config();
    }
    EXPECT_EQ(factory.parse_count(), parsed);
    EXPECT_EQ(first.SIGN_KEY, "k1");
    EXPECT_EQ(first.STATISTIC_PERIOD, 7000);
}

TEST(ConfCache, ChangesAreSeenByTheNextRead)
{
    const struct
    {
        const char* behaviour;
        milliseconds racy_window;
        std::function<void(temp_ini&)> change;
        const char* expected;
    } cases[] = {
        { "edit in place", config_factory::default_racy_window,
            [](temp_ini& ini) { ini.write(general("k2-longer")); }, "k2-longer" },
        { "edit in place keeping the size", config_factory::default_racy_window,
            [](temp_ini& ini) { ini.write(general("k2")); }, "k2" },
        { "atomic replace by rename", config_factory::default_racy_window,
            [](temp_ini& ini) { ini.replace(general("k3")); }, "k3" },
        { "replace by rename, trusted cache", milliseconds(0),
            [](temp_ini& ini) { ini.replace(general("k4")); }, "k4" },
        { "edit in place, trusted cache", milliseconds(0),
            [](temp_ini& ini) { ini.write(general("k5")); }, "k5" },
        { "file removed gives defaults", milliseconds(0),
            [](temp_ini& ini) { QFile::remove(ini.path()); }, "tusnib_**#&" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        temp_ini ini;
        ini.write(general("k1"));
        const config_factory factory(ini.path(), c.racy_window);
        ASSERT_EQ(factory.read_global_conf().SIGN_KEY, "k1");
        factory.read_rabbit_api_config();
        c.change(ini);
        EXPECT_EQ(factory.read_global_conf().SIGN_KEY, c.expected);
        const QString queue = factory.read_rabbit_api_config().queue;
        EXPECT_EQ(queue, QFile::exists(ini.path()) ? "q_" + QString(c.expected) : "cmd.in.tolvik");
    }
}

// The request road tells by pointer whether the file changed since it last looked: the same
// content must give the same shared records without a new parse, a change new records.
TEST(ConfCache, RequestSettingsAreSharedUntilTheFileChanges)
{
    temp_ini ini;
    ini.write(general("k1"));
    const config_factory factory(ini.path(), milliseconds(0));
    const request_settings first = factory.read_request_settings();
    ASSERT_TRUE(first.conf && first.rabbit);
    EXPECT_EQ(first.conf->SIGN_KEY, "k1");
    EXPECT_EQ(first.rabbit->queue, "q_k1");
    const std::uint64_t parsed = factory.parse_count();
    EXPECT_EQ(parsed, 2u);
    for (int i = 0; i < 3; ++i) {
        const request_settings again = factory.read_request_settings();
        EXPECT_EQ(again.conf, first.conf);
        EXPECT_EQ(again.rabbit, first.rabbit);
    }
    EXPECT_EQ(factory.read_global_conf().SIGN_KEY, "k1");
    EXPECT_EQ(factory.parse_count(), parsed) << "both ways of reading share one parse";

    ini.write(general("k2-longer"));
    const request_settings edited = factory.read_request_settings();
    EXPECT_NE(edited.conf, first.conf);
    EXPECT_NE(edited.rabbit, first.rabbit);
    EXPECT_EQ(edited.conf->SIGN_KEY, "k2-longer");
    EXPECT_EQ(edited.rabbit->queue, "q_k2-longer");
    EXPECT_EQ(first.conf->SIGN_KEY, "k1") << "records handed out before keep their content";
}

TEST(ConfCache, EditWithinTheSameSecondIsSeen)
{
    temp_ini ini;
    const qint64 second = qint64(::time(nullptr)) - 100;
    ini.write(general("aa"));
    ini.set_mtime(second, 100000000);
    const config_factory factory(ini.path(), milliseconds(0));
    ASSERT_EQ(factory.read_global_conf().SIGN_KEY, "aa");

    ini.write(general("bb"));
    ini.set_mtime(second, 600000000);
    EXPECT_EQ(factory.read_global_conf().SIGN_KEY, "bb");
}

int open_descriptors()
{
    return QDir(QStringLiteral("/proc/self/fd"))
        .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
        .size();
}

// Qt re-reads an ini file only when its size or millisecond time stamp changed; edits of the
// same size in quick succession must still all be seen.
TEST(ConfCache, RapidEditsOfTheSameSizeAreAllSeen)
{
    temp_ini ini;
    ini.write(general("k0"));
    const config_factory factory(ini.path());
    factory.read_global_conf();
    const int descriptors = open_descriptors();
    for (int i = 1; i <= 100; ++i) {
        const QByteArray key = "k" + QByteArray::number(i % 10);
        ini.write(general(key.constData()));
        ASSERT_EQ(factory.read_global_conf().SIGN_KEY, key) << "edit " << i;
        ASSERT_EQ(factory.read_rabbit_api_config().queue, "q_" + key) << "edit " << i;
    }
    EXPECT_EQ(open_descriptors(), descriptors) << "old copies are released";
}

TEST(ConfCache, TouchWithoutChangeIsNotParsedAgain)
{
    temp_ini ini;
    ini.write(general("k1"));
    const config_factory factory(ini.path());
    factory.read_global_conf();
    ini.write(general("k1"));
    ini.set_mtime(qint64(::time(nullptr)) + 5, 0);
    EXPECT_EQ(factory.read_global_conf().SIGN_KEY, "k1");
    EXPECT_EQ(factory.parse_count(), 1u);
}

TEST(ConfCache, FileCreatedAfterStartIsSeen)
{
    temp_ini ini;
    const config_factory factory(ini.path(), milliseconds(0));
    EXPECT_EQ(factory.read_global_conf().SIGN_KEY, "tusnib_**#&");
    EXPECT_EQ(factory.read_global_conf().SIGN_KEY, "tusnib_**#&");
    EXPECT_EQ(factory.parse_count(), 1u) << "a missing file is cached like any other state";
    ini.write(general("new"));
    EXPECT_EQ(factory.read_global_conf().SIGN_KEY, "new");
}

TEST(FileStamp, RecentChangeWindow)
{
    file_stamp stamp;
    stamp.present = true;
    stamp.changed = timespec { 1000, 500000000 };
    const auto at = [](time_t s, long ns) { return timespec { s, ns }; };
    const struct
    {
        const char* behaviour;
        timespec now;
        milliseconds window;
        bool recent;
    } cases[] = {
        { "same instant", at(1000, 500000000), milliseconds(2000), true },
        { "just inside the window", at(1002, 499999999), milliseconds(2000), true },
        { "window over", at(1002, 500000000), milliseconds(2000), false },
        { "a change time in the future is never trusted", at(999, 0), milliseconds(2000), true },
        { "no window trusts at once", at(1000, 500000000), milliseconds(0), false },
    };
    for (const auto& c : cases)
        EXPECT_EQ(stamp.changed_within(c.window, c.now), c.recent) << c.behaviour;

    file_stamp missing;
    EXPECT_FALSE(missing.changed_within(milliseconds(2000), at(1000, 0)));
}

} // namespace
