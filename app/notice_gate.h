#pragma once

#include <QElapsedTimer>

// Lets the notice of a lasting condition through at most once per interval (measured on the
// monotonic clock), however often the condition is met meanwhile.
class notice_gate
{
public:
    explicit notice_gate(qint64 interval_ms = 60 * 1000)
        : interval_ms_(interval_ms)
    { }

    // True when the notice may be given now; the interval then starts again.
    bool open()
    {
        if (told_.isValid() && !told_.hasExpired(interval_ms_))
            return false;
        told_.start();
        return true;
    }

private:
    qint64 interval_ms_;
    QElapsedTimer told_;
};
