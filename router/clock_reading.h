#pragma once

#include <QDateTime>
#include <chrono>

// One moment on two clocks: the wall clock for the times that are shown, the monotonic one
// for durations, which a step of the wall clock (an NTP correction, `date -s`) must not
// stretch or shrink. Both are read without a system call.
struct clock_reading
{
    QDateTime wall; // UTC
    qint64 monotonic_ms = 0;

    static clock_reading now() { return { QDateTime::currentDateTimeUtc(), monotonic_now_ms() }; }

    // Where only a duration ends, the wall clock need not be read.
    static qint64 monotonic_now_ms()
    {
        const auto since_boot = std::chrono::steady_clock::now().time_since_epoch();
        return std::chrono::duration_cast<std::chrono::milliseconds>(since_boot).count();
    }
};
