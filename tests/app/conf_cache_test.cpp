#include "app/config_factory.h"
#include "app/file_stamp.h"

#include "temp_ini.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <chrono>
#include <ctime>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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
        { "file removed gives defaults, but for the key read before", milliseconds(0),
            [](temp_ini& ini) { QFile::remove(ini.path()); }, "k1" },
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

// Once read, the settings do not fall back to the built-in SIGN_KEY (public in every copy of the
// program), nor to every default when the file is there but cannot be read; each time a WARNING
// says so, at most once a minute of each kind.
TEST(ConfCache, SettingsReadStayWhenTheFileFails)
{
    const auto put = [](const QByteArray& content) {
        return [content](temp_ini& ini) { ini.write(content); };
    };
    const auto at_path = [](bool directory) {
        return [directory](temp_ini& ini) {
            const QByteArray path = QFile::encodeName(ini.path());
            ASSERT_TRUE(QFile::remove(ini.path()));
            ASSERT_EQ(directory ? ::mkdir(path, 0700) : ::mkfifo(path, 0600), 0);
        };
    };
    const char* const built_in = "tusnib_**#&";
    const struct
    {
        const char* behaviour;
        std::function<void(temp_ini&)> change;
        const char* sign_key;
        int period_ms;
        const char* queue;
        const char* warning; // in the log; null: none
    } rows[] = {
        { "emptied: the key is kept, the rest follows the file", put(""), "k1", 60000,
            "cmd.in.tolvik", "gives no SIGN_KEY" },
        { "a stray line above the key hides it: kept",
            put("[GENERAL_SETTINGS]\nSTATISTIC_PERIOD=9\n[[[broken\nSIGN_KEY=k2\n"), "k1", 9000,
            "cmd.in.tolvik", "gives no SIGN_KEY" },
        { "the key removed: kept", put("[GENERAL_SETTINGS]\nSTATISTIC_PERIOD=9\n"), "k1", 9000,
            "cmd.in.tolvik", "gives no SIGN_KEY" },
        { "file removed: defaults but the key", [](temp_ini& ini) { QFile::remove(ini.path()); },
            "k1", 60000, "cmd.in.tolvik", "gives no SIGN_KEY" },
        { "a directory at the path: everything kept", at_path(true), "k1", 7000, "q_k1",
            "cannot be read (not a regular file)" },
        { "a FIFO at the path: everything kept, nothing waits", at_path(false), "k1", 7000, "q_k1",
            "cannot be read (not a regular file)" },
        { "a new key is taken", put("[GENERAL_SETTINGS]\nSIGN_KEY=k2\n"), "k2", 60000,
            "cmd.in.tolvik", nullptr },
        { "an empty key is a key", put("[GENERAL_SETTINGS]\nSIGN_KEY=\n"), "", 60000,
            "cmd.in.tolvik", nullptr },
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.behaviour);
        temp_ini ini;
        const QString log_path = ini.dir_path() + "/gorvex.log";
        ini.write("[GENERAL_SETTINGS]\nLOG_LEVEL=WARNING\nLOG_FILE_PATH=" + log_path.toUtf8() + "\n"
            + general("k1"));
        config_factory factory(ini.path(), milliseconds(0));
        factory.get_logger(QString());
        ASSERT_EQ(factory.read_global_conf().SIGN_KEY, "k1");

        r.change(ini);
        for (int look = 0; look < 2; ++look) {
            const request_settings now = factory.read_request_settings();
            EXPECT_EQ(now.conf->SIGN_KEY, r.sign_key);
            EXPECT_EQ(now.conf->STATISTIC_PERIOD, r.period_ms);
            EXPECT_EQ(now.rabbit->queue, r.queue);
            EXPECT_EQ(factory.read_global_conf().SIGN_KEY, r.sign_key);
        }
        EXPECT_EQ(factory.readable(), !QString(r.warning).startsWith("cannot"));
        QFile log(log_path);
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        const QString written = QString::fromUtf8(log.readAll());
        const QString warning
            = QStringLiteral("Warning : Config file %1 %2").arg(ini.path(), r.warning);
        EXPECT_EQ(written.count(QStringLiteral("Warning")), r.warning ? 1 : 0)
            << written.toStdString();
        if (r.warning) {
            EXPECT_TRUE(written.contains(warning)) << written.toStdString();
        }
    }

    // A process that never read a key from its file has the built-in one.
    temp_ini ini;
    ini.write("[GENERAL_SETTINGS]\nSTATISTIC_PERIOD=9\n");
    const config_factory factory(ini.path(), milliseconds(0));
    EXPECT_EQ(factory.read_global_conf().SIGN_KEY, built_in);
    QFile::remove(ini.path());
    EXPECT_EQ(factory.read_global_conf().SIGN_KEY, built_in);
}

// With no descriptor free the file cannot be opened: the settings read before stay, and the
// edit made meanwhile applies once a descriptor is free again.
TEST(ConfCache, NoDescriptorFreeKeepsTheSettings)
{
    temp_ini ini;
    ini.write(general("k1"));
    const config_factory factory(ini.path(), milliseconds(0));
    ASSERT_EQ(factory.read_global_conf().SIGN_KEY, "k1");
    ini.write("[GENERAL_SETTINGS]\nSIGN_KEY=k2\n");

    rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int lowest_free = ::dup(0);
    ASSERT_GE(lowest_free, 0);
    ::close(lowest_free);
    rlimit none_free = saved;
    none_free.rlim_cur = rlim_t(lowest_free);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none_free), 0);
    const global_conf during = factory.read_global_conf();
    ::setrlimit(RLIMIT_NOFILE, &saved);

    EXPECT_EQ(during.SIGN_KEY, "k1");
    EXPECT_EQ(during.STATISTIC_PERIOD, 7000);
    EXPECT_EQ(factory.read_global_conf().SIGN_KEY, "k2");
    EXPECT_EQ(factory.read_global_conf().STATISTIC_PERIOD, 60000);
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
