#include "app/ini_snapshot.h"

#include <QFile>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Copies from every factory of the process may reuse the same descriptor number, and so the
// same path in Qt's cache; a process-wide counter keeps their time stamps apart.
std::atomic<time_t> next_copy_time { 1000000000 };

// Something other than a regular file at the path; apart from every errno value.
constexpr int not_regular_file = -1;

// The file's content, or why there is none: `absent` for no file at the path, `failure` for one
// that cannot be read. Kept free of text, since it is looked at again at every pass while the
// file cannot be read.
struct file_content
{
    QByteArray bytes;
    bool absent = false;
    int failure = 0;
};

file_content read_content(const QByteArray& native_path)
{
    file_content content;
    // Non-blocking, so that a FIFO at the path cannot hold the event loop; it is refused below.
    const int fd = ::open(native_path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT)
            content.absent = true;
        else
            content.failure = errno;
        return content;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        content.failure = errno;
    } else if (!S_ISREG(st.st_mode)) {
        content.failure = not_regular_file;
    } else {
        char buffer[16384];
        for (;;) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got > 0) {
                content.bytes.append(buffer, int(got));
            } else if (got == 0) {
                break;
            } else if (errno != EINTR) {
                content.failure = errno;
                break;
            }
        }
    }
    ::close(fd);
    if (content.failure != 0)
        content.bytes.clear();
    return content;
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
    file_content read = read_content(native_path_);
    stamp_ = now;
    failure_ = read.failure;
    if (failure_ != 0 && has_read_) {
        // Tried again at the next call, whatever the stamp says then: a descriptor may have
        // come free meanwhile.
        trusted_ = false;
        return version_;
    }
    has_read_ = failure_ == 0;
    trusted_ = has_read_ && !now.changed_within(racy_window_);
    if (version_ != 0 && read.bytes == content_)
        return version_;
    content_ = std::move(read.bytes);
    ++version_;
    publish(content_);
    return version_;
}

QString ini_snapshot::failure() const
{
    if (failure_ == not_regular_file)
        return QStringLiteral("not a regular file");
    return failure_ == 0 ? QString() : QString::fromLocal8Bit(::strerror(failure_));
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
