#include "app/config_factory.h"
#include "app/logger.h"

#include "temp_ini.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

QByteArray read_file(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString thread_id()
{
    return "0x" + QString::number(quintptr(QThread::currentThreadId()), 16);
}

const QString time_pattern = QStringLiteral("\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2},\\d{3}");

// Sends what is written to a standard stream into a file while it lives.
class redirect_fd
{
public:
    redirect_fd(FILE* stream, const QString& path)
        : stream_(stream)
        , fd_(fileno(stream))
    {
        std::fflush(stream_);
        saved_ = ::dup(fd_);
        const int target
            = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(target, fd_);
        ::close(target);
    }
    ~redirect_fd()
    {
        std::fflush(stream_);
        ::dup2(saved_, fd_);
        ::close(saved_);
    }

private:
    FILE* stream_;
    int fd_;
    int saved_;
};

TEST(Logger, LineFormatPerLevel)
{
    const struct
    {
        const char* behaviour;
        int level;
        QString expected; // a pattern for the whole line
    } cases[] = {
        { "error lines carry thread id and name", LOG_ERROR,
            time_pattern + thread_id() + " Error svc: boom\r\n" },
        { "warning lines", LOG_WARNING, time_pattern + thread_id() + " Warning svc: boom\r\n" },
        { "debug lines", LOG_DEBUG, time_pattern + thread_id() + " Debug svc: boom\r\n" },
        { "inform lines use the short form", LOG_INFORM, time_pattern + " svc: boom\r\n" },
        { "level 0 lines are named Off", LOG_OFF,
            time_pattern + thread_id() + " Off svc: boom\r\n" },
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        const QString path = dir.filePath("log.txt");
        {
            logger log(path, "svc", LOG_DEBUG);
            log_line(log, c.level) << "boom";
        }
        const QString line = QString::fromLocal8Bit(read_file(path));
        const QRegularExpression re(QRegularExpression::anchoredPattern(c.expected));
        EXPECT_TRUE(re.match(line).hasMatch()) << c.behaviour << ": " << line.toStdString();
    }
}

TEST(Logger, LevelFilter)
{
    const struct
    {
        const char* behaviour;
        int logger_level;
        int line_level;
        bool written;
    } cases[] = {
        { "error logger writes errors", LOG_ERROR, LOG_ERROR, true },
        { "error logger drops inform", LOG_ERROR, LOG_INFORM, false },
        { "error logger drops debug", LOG_ERROR, LOG_DEBUG, false },
        { "inform logger writes inform", LOG_INFORM, LOG_INFORM, true },
        { "inform logger drops debug", LOG_INFORM, LOG_DEBUG, false },
        { "off logger drops errors", LOG_OFF, LOG_ERROR, false },
        { "off logger still writes level 0", LOG_OFF, LOG_OFF, true },
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        const QString path = dir.filePath("log.txt");
        {
            logger log(path, "", c.logger_level);
            log_line(log, c.line_level) << "x";
        }
        EXPECT_EQ(!read_file(path).isEmpty(), c.written) << c.behaviour;
    }
}

TEST(Logger, LineComposition)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("log.txt");
    {
        logger log(path, "", LOG_INFORM);
        log_line(log, LOG_INFORM) << QStringLiteral("q") << " c " << -42 << " " << 7;
        log_line(log, LOG_INFORM) << "two\nlines";
        log_line(log, LOG_INFORM) << "caf\xe9"; // bytes of a literal are Latin-1
    }
    const QStringList lines = QString::fromLocal8Bit(read_file(path)).split("\r\n");
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[0].endsWith(" : q c -42 7")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith(" : two\nlines")) << "a line break inside the text stays as is";
    EXPECT_TRUE(lines[2].endsWith(QString::fromUtf8(" : caf\xc3\xa9")));
    EXPECT_EQ(lines[3], "");
}

TEST(Logger, FileIsAppendedTo)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("log.txt");
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old\n");
    }
    logger log(path, "n");
    log_line(log, LOG_ERROR) << "first";
    // Each line is on disk as soon as it is written, before the logger is gone.
    const QByteArray after_one = read_file(path);
    EXPECT_TRUE(after_one.startsWith("old\n"));
    EXPECT_TRUE(after_one.endsWith("n: first\r\n"));
}

TEST(Logger, StandardStreams)
{
    const struct
    {
        const char* behaviour;
        const char* path;
        FILE* stream;
    } cases[] = {
        { "stdout", "stdout", stdout },
        { "stderr", "stderr", stderr },
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        const QString captured = dir.filePath("captured");
        {
            logger log(c.path, "std");
            redirect_fd redirect(c.stream, captured);
            log_line(log, LOG_ERROR) << "to the stream";
            // Read while still redirected: the line must already be flushed.
            EXPECT_TRUE(read_file(captured).endsWith(" Error std: to the stream\r\n"))
                << c.behaviour;
        }
        EXPECT_FALSE(QFile::exists(dir.filePath(c.path))) << c.behaviour << ": no file is made";
    }
}

TEST(Logger, LevelNames)
{
    const struct
    {
        const char* text;
        int level;
    } cases[] = {
        { "OFF", LOG_OFF },
        { "ERROR", LOG_ERROR },
        { "WARNING", LOG_WARNING },
        { "INFORM", LOG_INFORM },
        { "DEBUG", LOG_DEBUG },
        { "debug", LOG_ERROR },
        { "Info", LOG_ERROR },
        { "", LOG_ERROR },
        { " DEBUG", LOG_ERROR },
    };
    for (const auto& c : cases)
        EXPECT_EQ(parse_log_level(QString::fromLatin1(c.text)), c.level) << '"' << c.text << '"';
}

TEST(Logger, FactoryMakesEachLoggerOnce)
{
    temp_ini ini;
    const QString first_log = ini.dir_path() + "/first.log";
    ini.write("[GENERAL_SETTINGS]\nLOG_FILE_PATH=" + first_log.toUtf8() + "\nLOG_LEVEL=DEBUG\n");
    config_factory factory(ini.path());
    logger& log = factory.get_logger("");
    EXPECT_EQ(log.path(), first_log);
    EXPECT_EQ(log.level(), LOG_DEBUG);
    EXPECT_EQ(log.name(), "");

    ini.write("[GENERAL_SETTINGS]\nLOG_FILE_PATH=stdout\nLOG_LEVEL=OFF\n");
    logger& again = factory.get_logger("");
    EXPECT_EQ(&again, &log);
    EXPECT_EQ(again.path(), first_log) << "the first path stays";
    EXPECT_EQ(again.level(), LOG_DEBUG) << "the first level stays";

    logger& other = factory.get_logger("other");
    EXPECT_NE(&other, &log) << "a new name reads the changed file";
    EXPECT_EQ(other.path(), "stdout");
    EXPECT_EQ(other.level(), LOG_OFF);
}

TEST(Logger, FactoryLogSettings)
{
    const struct
    {
        const char* behaviour;
        QByteArray lines;
        const char* path;
        int level;
    } cases[] = {
        { "defaults", "", "lumrat.log", LOG_ERROR },
        { "lower-case level is not a level name", "LOG_LEVEL=debug", "lumrat.log", LOG_ERROR },
        { "inform", "LOG_LEVEL=INFORM\nLOG_FILE_PATH=stderr", "stderr", LOG_INFORM },
        { "STDOUT in capitals is a file path", "LOG_FILE_PATH=STDOUT", "STDOUT", LOG_ERROR },
    };
    for (const auto& c : cases) {
        temp_ini ini;
        ini.write("[GENERAL_SETTINGS]\n" + c.lines + "\n");
        // Relative log paths land in the working directory; keep them inside the temp dir.
        const QString cwd = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(ini.dir_path()));
        {
            config_factory factory(ini.path());
            logger& log = factory.get_logger("");
            EXPECT_EQ(log.path(), c.path) << c.behaviour;
            EXPECT_EQ(log.level(), c.level) << c.behaviour;
        }
        QDir::setCurrent(cwd);
    }
}

} // namespace
