#include "temp_ini.h"

#include <QFile>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

temp_ini::temp_ini()
    : path_(dir_.filePath(QStringLiteral("gorvex.ini")))
{ }

void temp_ini::write(const QByteArray& content)
{
    QFile file(path_);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(content), content.size());
}

void temp_ini::replace(const QByteArray& content)
{
    const QString next = path_ + QStringLiteral(".new");
    QFile file(next);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(content), content.size());
    file.close();
    ASSERT_EQ(
        ::rename(QFile::encodeName(next).constData(), QFile::encodeName(path_).constData()), 0);
}

void temp_ini::set_mtime(qint64 seconds, long nanoseconds)
{
    timespec times[2];
    times[0].tv_sec = time_t(seconds);
    times[0].tv_nsec = nanoseconds;
    times[1] = times[0];
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path_).constData(), times, 0), 0);
}
