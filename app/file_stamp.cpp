#include "app/file_stamp.h"

#include <sys/stat.h>

namespace {

bool same_time(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

} // namespace

file_stamp file_stamp::of(const QByteArray& native_path)
{
    file_stamp stamp;
    struct stat st;
    if (::stat(native_path.constData(), &st) != 0)
        return stamp;
    stamp.present = true;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = st.st_size;
    stamp.modified = st.st_mtim;
    stamp.changed = st.st_ctim;
    return stamp;
}

bool file_stamp::operator==(const file_stamp& other) const
{
    if (present != other.present)
        return false;
    if (!present)
        return true;
    return device == other.device && inode == other.inode && size == other.size
        && same_time(modified, other.modified) && same_time(changed, other.changed);
}

bool file_stamp::changed_within(std::chrono::nanoseconds window, const timespec& now) const
{
    if (!present)
        return false;
    const auto to_ns = [](const timespec& t) {
        return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
    };
    return to_ns(now) - to_ns(changed) < window;
}

bool file_stamp::changed_within(std::chrono::nanoseconds window) const
{
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return changed_within(window, now);
}
