// The idle load of bench/road.sh: holds keep-alive connections that went quiet after one
// answered request, and clients that send a request head one byte every 100 ms, against a
// server on 127.0.0.1. Prints "ready" once all are open, and exits after the given seconds.
//
//   idle_holder PORT IDLE SLOW SECONDS [HEADER-LINE]
//
// HEADER-LINE ("Name: value") goes into the idle connections' request.
#include "loopback_client.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

bool raise_fd_limit(size_t wanted)
{
    rlimit limit {};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    return limit.rlim_cur >= wanted;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s PORT IDLE SLOW SECONDS [HEADER-LINE]\n", argv[0]);
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const int idle = std::atoi(argv[2]);
    const int slow = std::atoi(argv[3]);
    const int seconds = std::atoi(argv[4]);
    const std::string header = argc > 5 ? std::string(argv[5]) + "\r\n" : std::string();
    if (!raise_fd_limit(size_t(idle + slow + 16))) {
        std::fprintf(stderr, "idle_holder: the open file limit is below %d\n", idle + slow + 16);
        return 1;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);

    const std::string request = "GET /nothing HTTP/1.1\r\nHost: 127.0.0.1\r\n" + header + "\r\n";
    std::vector<int> held;
    for (int i = 0; i < idle; ++i) {
        const int fd = connect_loopback(port, 5);
        if (fd < 0 || !send_all(fd, request) || read_message(fd).empty()) {
            std::fprintf(
                stderr, "idle_holder: idle connection %d failed: %s\n", i, std::strerror(errno));
            return 1;
        }
        held.push_back(fd);
    }
    std::vector<int> slow_fds;
    for (int i = 0; i < slow; ++i) {
        const int fd = connect_loopback(port, 5);
        if (fd < 0 || !send_all(fd, "GET /nothing HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ")) {
            std::fprintf(
                stderr, "idle_holder: slow client %d failed: %s\n", i, std::strerror(errno));
            return 1;
        }
        slow_fds.push_back(fd);
    }
    std::printf("ready %d idle, %d slow\n", idle, slow);
    std::fflush(stdout);

    // The slow clients never finish their head; one the server gave up on is not replaced.
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        for (int& fd : slow_fds) {
            if (fd >= 0 && ::send(fd, "a", 1, MSG_NOSIGNAL | MSG_DONTWAIT) < 0 && errno != EAGAIN) {
                ::close(fd);
                fd = -1;
            }
        }
    }
    return 0;
}
