// The client of bench/input_cost.sh: sends the requests of a file over keep-alive to a server on
// 127.0.0.1 and reads what they cost the server's process in CPU time from /proc/PID/stat,
// before the first request and after the last answer.
//
//   input_client PORT PID FILE STATUS COUNT SECONDS CAP
//
// FILE holds one or more whole requests back to back (a body framed by its Content-Length);
// they are sent in turn, from the first again after the last, until COUNT answers have come or
// SECONDS have passed (at least one request either way). Every answer must have STATUS. An
// answer that has not come CAP seconds after its request went ends the run: the server is still
// at it, and the CPU time it has taken so far is a lower bound of what the requests cost.
// Prints "requests <answered> cpu_us <CPU time of the server> capped <0|1>".
#include "loopback_client.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// User and system CPU time of the process, in microseconds; -1 when it cannot be read.
long long cpu_us(int pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The name in parentheses may hold blanks; the fields after it are counted from the state.
    const size_t name_end = stat.rfind(')');
    if (name_end == std::string::npos)
        return -1;
    std::istringstream fields(stat.substr(name_end + 1));
    std::string field;
    long long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i >= 14) // utime, stime
            ticks += std::atoll(field.c_str());
    return ticks * 1000000LL / sysconf(_SC_CLK_TCK);
}

// The requests of the file: each head up to its blank line, and the body its Content-Length
// announces.
std::vector<std::string> split_requests(const std::string& text)
{
    std::vector<std::string> requests;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find("\r\n\r\n", at);
        if (end == std::string::npos)
            break;
        const size_t next = std::min(text.size(), end + 4 + content_length(text, at, end));
        requests.push_back(text.substr(at, next - at));
        at = next;
    }
    return requests;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 8) {
        std::fprintf(stderr, "usage: %s PORT PID FILE STATUS COUNT SECONDS CAP\n", argv[0]);
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const int pid = std::atoi(argv[2]);
    const int expected = std::atoi(argv[4]);
    const long count = std::atol(argv[5]);
    const double seconds = std::atof(argv[6]);
    const int cap = int(std::ceil(std::atof(argv[7])));
    std::ifstream file(argv[3], std::ios::binary);
    const std::vector<std::string> requests = split_requests(
        std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>()));
    if (requests.empty()) {
        std::fprintf(stderr, "input_client: no request in %s\n", argv[3]);
        return 2;
    }

    const long long cpu_before = cpu_us(pid);
    const keep_alive_run run = run_keep_alive(
        port, cap, count, seconds, expected, [&requests](long i) -> const std::string& {
            return requests[size_t(i) % requests.size()];
        });
    if (run.connect_failed) {
        std::fprintf(stderr, "input_client: connect to %d: %s\n", port, std::strerror(errno));
        return 1;
    }
    if (run.unexpected) {
        std::fprintf(stderr, "input_client: %s answered %d (wanted %d)\n", argv[3], *run.unexpected,
            expected);
        return 1;
    }
    const long long cpu_after = cpu_us(pid);
    std::printf("requests %ld cpu_us %lld capped %d\n", run.answered, cpu_after - cpu_before,
        run.capped ? 1 : 0);
    return 0;
}
