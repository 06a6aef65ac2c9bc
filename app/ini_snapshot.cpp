#include "app/ini_snapshot.h"

#include <QFile>
#include <atomic>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Copies from every factory of the process may reuse the same descriptor number, and so the
// same path in Qt's cache; a process-wide counter keeps their time stamps apart.
std::atomic<time_t> next_copy_time { 1000000000 };

QByteArray read_content(const QString& path)
{
    QFile file(path);
    // A missing or unreadable file reads as empty, which gives every default.
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool write_all(int fd, const QByteArray& content)
{
    const char* data = content.constData();
    qint64 left = content.size();
    while (left > 0) {
        const ssize_t done = ::write(fd, data, size_t(left));
        if (done < 0)
            return false;
        data += done;
        left -= done;
    }
    return true;
}

} // namespace

ini_snapshot::ini_snapshot(const QString& path, std::chrono::milliseconds racy_window)
    : path_(path)
    , native_path_(QFile::encodeName(path))
    , racy_window_(racy_window)
    , settings_path_(path)
{ }

ini_snapshot::~ini_snapshot()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::uint64_t ini_snapshot::refresh()
{
    // The stamp is taken before the read, so a change during the read shows at the next call.
    const file_stamp now = file_stamp::of(native_path_);
    if (version_ != 0 && trusted_ && now == stamp_)
        return version_;
    QByteArray content = read_content(path_);
    stamp_ = now;
    trusted_ = !now.changed_within(racy_window_);
    if (version_ != 0 && content == content_)
        return version_;
    content_ = std::move(content);
    ++version_;
    publish(content_);
    return version_;
}

void ini_snapshot::publish(const QByteArray& content)
{
    int fd = ::memfd_create("gorvex-ini", MFD_CLOEXEC);
    const QString fd_path = QStringLiteral("/proc/self/fd/%1").arg(fd);
    timespec stamp[2];
    stamp[0].tv_sec = next_copy_time.fetch_add(1);
    stamp[0].tv_nsec = 0;
    stamp[1] = stamp[0];
    const bool made = fd >= 0 && write_all(fd, content) && ::futimens(fd, stamp) == 0
        && ::access(QFile::encodeName(fd_path).constData(), R_OK) == 0;
    if (!made) {
        // Without anonymous files or /proc, Qt reads the file itself and its own change
        // detection applies.
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = made ? fd : -1;
    settings_path_ = made ? fd_path : path_;
}
