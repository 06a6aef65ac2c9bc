#pragma once

#include <QByteArray>
#include <chrono>
#include <ctime>
#include <sys/types.h>

// What stat() says about a file's identity and last change. Two equal stamps mean the file was
// neither replaced nor written in between, as far as the file system can tell.
struct file_stamp
{
    bool present = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified {};
    timespec changed {};

    static file_stamp of(const QByteArray& native_path);
    bool operator==(const file_stamp& other) const;
    bool operator!=(const file_stamp& other) const { return !(*this == other); }

    // True while the file's last change (its ctime, which the kernel sets on every write,
    // rename or time-stamp edit and which cannot be set back) lies less than `window` before
    // `now`, or after it: a further change then could still leave the same stamp on a file
    // system with coarse timestamps.
    bool changed_within(std::chrono::nanoseconds window, const timespec& now) const;
    bool changed_within(std::chrono::nanoseconds window) const;
};
