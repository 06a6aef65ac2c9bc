#include "http/qhttp_descriptor_reserve.h"

#include "http/qhttp_tcp_stream.h"

#include <cerrno>
#include <dirent.h>
#include <sys/resource.h>

namespace qhttp {

namespace {

// The process's open descriptors, -1 when they cannot be listed; `limit` when not even the
// listing finds a descriptor free.
qint64 count_open(qint64 limit)
{
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return errno == EMFILE || errno == ENFILE ? limit : -1;
    qint64 count = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    ::closedir(dir);
    return count - 1; // the listing's own
}

} // namespace

bool descriptor_reserve::allows_one_more()
{
    // Far from the limit the streams' own count is enough.
    if (counted_.isValid() && free_estimate() > 2 * size_for(limit_))
        return true;
    if (!counted_.isValid() || counted_.hasExpired(recount_interval_ms))
        recount();
    return free_estimate() > size_for(limit_);
}

void descriptor_reserve::refresh_limit()
{
    if (!limit_read_.isValid() || limit_read_.hasExpired(recount_interval_ms))
        read_limit();
}

void descriptor_reserve::read_limit()
{
    limit_read_.start();
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0)
        limit_ = limit.rlim_cur == RLIM_INFINITY ? qint64(1) << 40 : qint64(limit.rlim_cur);
}

void descriptor_reserve::recount()
{
    counted_.start();
    read_limit();
    const qint64 open = count_open(limit_);
    if (open >= 0)
        others_ = open - tcp_stream::open_descriptors();
}

qint64 descriptor_reserve::free_estimate() const
{
    return limit_ - others_ - tcp_stream::open_descriptors();
}

} // namespace qhttp
