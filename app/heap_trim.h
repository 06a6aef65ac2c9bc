#pragma once

#include <QElapsedTimer>
#include <QMetaObject>
#include <QObject>
#include <QTimer>
#include <functional>

struct heap_trim_timing
{
    int min_interval_ms = 250; // from one trim to the next
    int longest_wait_ms = 500; // for the loop to wait before a trim
};

// Gives the memory that a large request used back to the system once the request is over.
// glibc keeps freed blocks for reuse and returns only the free top of its heap, so the many
// small blocks of a large JSON body would keep the gateway's peak resident for good;
// malloc_trim(0) returns every free page. A trim walks the whole heap, so it follows only a
// request that held megabytes: when the event loop next waits (or after longest_wait_ms of a
// loop that never does), and no sooner than min_interval_ms after the previous trim, so that a
// stream of large requests costs a trim per interval rather than one each.
class heap_trim : public QObject
{
    Q_OBJECT
public:
    using timing = heap_trim_timing;
    // A request whose body and answer come to this many bytes together is a large one, and so
    // is a message or a connection's output of this size. The objects of a JSON body take about ten
    // times its text in Qt's containers (11.5 MB for 1 MiB of small objects), so such a request may
    // well have held megabytes.
    static constexpr qint64 large_work_bytes = 256 * 1024;

    explicit heap_trim(
        std::function<void()> trim, timing times = timing(), QObject* parent = nullptr);
    ~heap_trim() override;

    // The trimmer that after_work() tells: none until one is installed, and none once it
    // has gone.
    static void install(heap_trim* trimmer);
    // A request (body and answer) or a message of `bytes` has been handled, or a connection's
    // output of `bytes` has been sent. One comparison when it was small.
    static void after_work(qint64 bytes)
    {
        if (bytes >= large_work_bytes && installed_)
            installed_->request();
    }
    // Asks for a trim; requests made before it runs share it.
    void request();

    // malloc_trim(0). The allocator is left as it is: a fixed M_MMAP_THRESHOLD would give
    // large buffers back at once and lower the peak of a burst of large bodies, but it maps
    // fresh pages for each of them, which doubles the CPU time such a burst takes.
    static void trim_malloc();

private:
    enum class stage { none, spacing, waiting };
    void on_timer();
    void wait_for_idle();
    void trim_now();

    static inline heap_trim* installed_ = nullptr;
    std::function<void()> trim_;
    timing times_;
    stage stage_ = stage::none;
    QTimer timer_;
    QElapsedTimer since_trim_; // invalid until the first trim
    QMetaObject::Connection idle_;
};
