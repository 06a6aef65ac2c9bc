// alloc_counter: an LD_PRELOAD library that counts the heap allocations of a process, for
// bench/road_cost.sh. On SIGUSR2 it appends one line to the file named by ALLOC_COUNTER_OUT:
//
//   allocations <count> cpu_us <user+system CPU time of the process in microseconds>
//
// Two lines taken around a known number of requests give allocations and CPU per request.
// Everything in the signal handler is async-signal-safe: no allocation, no stdio.

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {

std::atomic<unsigned long long> allocations { 0 };
const char* out_path = nullptr;

// Writes `value` in decimal at `at`; returns the position after it.
char* put_number(char* at, unsigned long long value)
{
    char digits[24];
    int n = 0;
    do {
        digits[n++] = char('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0)
        *at++ = digits[--n];
    return at;
}

char* put_text(char* at, const char* text)
{
    const size_t length = std::strlen(text);
    std::memcpy(at, text, length);
    return at + length;
}

void report(int)
{
    if (!out_path)
        return;
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    const unsigned long long cpu_us
        = (unsigned long long)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000ULL
        + (unsigned long long)(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    char line[128];
    char* at = put_text(line, "allocations ");
    at = put_number(at, allocations.load());
    at = put_text(at, " cpu_us ");
    at = put_number(at, cpu_us);
    *at++ = '\n';
    const int fd = ::open(out_path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const ssize_t written = ::write(fd, line, size_t(at - line));
    (void)written;
    ::close(fd);
}

struct install
{
    install()
    {
        out_path = std::getenv("ALLOC_COUNTER_OUT");
        struct sigaction action
        { };
        action.sa_handler = report;
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGUSR2, &action, nullptr);
    }
} installed;

} // namespace

extern "C" {

void* malloc(size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(pointer, size);
}

void* memalign(size_t alignment, size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size)
{
    return memalign(alignment, size);
}

int posix_memalign(void** result, size_t alignment, size_t size)
{
    void* pointer = memalign(alignment, size);
    if (!pointer)
        return ENOMEM;
    *result = pointer;
    return 0;
}
}
