#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

namespace qhttp {

// The descriptors a listener leaves free at the process's open-file limit, for what is open
// already: each forward needs a descriptor of its own, and so do a read of the settings file and
// a reconnect of a link. Without it the listener takes every descriptor that frees up, and the
// connections it holds have their forwards failed.
//
// It costs no system call per request: the limit, which can be changed from outside the
// process, is read again at most once per `recount_interval_ms`; the streams count the
// descriptors they hold; and the rest of the process (listener, links, files, the event loop's
// own) is counted from /proc/self/fd only near the limit, and then at most as often.
class descriptor_reserve
{
public:
    static constexpr int recount_interval_ms = 200;

    // The descriptors kept free under a limit of `limit`.
    static qint64 size_for(qint64 limit) { return qMax<qint64>(16, limit / 64); }

    // Reads the process's limit again unless it was read within `recount_interval_ms`; before
    // the listener takes the connections that wait.
    void refresh_limit();
    // True while one more connection can be taken with the reserve still free.
    bool allows_one_more();
    // Reads the limit and counts the process's open descriptors again; a count that finds no
    // descriptor free for itself takes the process to be at its limit.
    void recount();

private:
    void read_limit();
    qint64 free_estimate() const;

    qint64 limit_ = 0;
    qint64 others_ = 0; // open descriptors that are not the streams'
    QElapsedTimer counted_;
    QElapsedTimer limit_read_;
};

} // namespace qhttp
