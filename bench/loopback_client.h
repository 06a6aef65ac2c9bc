#pragma once

// What the benchmark programs share: blocking connections to a server on 127.0.0.1, and the
// HTTP messages read from them.
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <string>
#include <strings.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

// A connection whose reads and writes give up after `seconds`; -1 when none could be made.
inline int connect_loopback(int port, int seconds)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval limit { seconds, 0 };
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// False when the server stopped taking the text.
inline bool send_all(int fd, const std::string& text)
{
    size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += size_t(n);
    }
    return true;
}

// Whether the head has a header `name` (lower case) whose value starts with `value` (any value
// when null), both without regard to letter case.
inline bool has_header(const std::string& head, const char* name, const char* value)
{
    size_t at = 0;
    while ((at = head.find("\r\n", at)) != std::string::npos) {
        at += 2;
        const size_t colon = head.find(':', at);
        const size_t end = head.find("\r\n", at);
        if (colon == std::string::npos || colon > end)
            continue;
        if (strncasecmp(head.c_str() + at, name, colon - at) != 0
            || std::strlen(name) != colon - at)
            continue;
        std::string text = head.substr(colon + 1, end - colon - 1);
        const size_t first = text.find_first_not_of(" \t");
        text = first == std::string::npos ? std::string() : text.substr(first);
        return !value || strncasecmp(text.c_str(), value, std::strlen(value)) == 0;
    }
    return false;
}

// The body length that the head of `text` from `from` to `head_end` announces; 0 when none.
inline size_t content_length(const std::string& text, size_t from, size_t head_end)
{
    const std::string head = text.substr(from, head_end - from);
    size_t length = 0;
    for (const char* name : { "\r\ncontent-length:", "\r\nContent-Length:" }) {
        const size_t found = head.find(name);
        if (found != std::string::npos)
            length = size_t(std::strtoul(head.c_str() + found + 17, nullptr, 10));
    }
    return length;
}

// One HTTP message read whole, framed by its Content-Length (or a head alone when it has none);
// its head up to the blank line, without it. Empty when none came: errno tells a time-out from
// a close.
inline std::string read_message(int fd)
{
    std::string in;
    char buf[16384];
    size_t end = std::string::npos;
    size_t need = std::string::npos;
    while (need == std::string::npos || in.size() < need) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return std::string();
        in.append(buf, size_t(n));
        if (need != std::string::npos || (end = in.find("\r\n\r\n")) == std::string::npos)
            continue;
        need = end + 4 + content_length(in, 0, end);
    }
    return in.substr(0, end + 2);
}

// One answer read whole; its status, -1 when none came (errno tells a time-out from a close).
// `closing` tells that the server closes the connection after it.
inline int read_answer(int fd, bool& closing)
{
    const std::string head = read_message(fd);
    if (head.compare(0, 5, "HTTP/") != 0 || head.size() < 12)
        return -1;
    closing = has_header(head, "connection", "close");
    return std::atoi(head.c_str() + 9);
}

// How a run of keep-alive requests ended.
struct keep_alive_run
{
    long answered = 0;
    bool capped = false; // a request or its answer took longer than the connection allows
    bool connect_failed = false; // errno tells why
    // The status of an answer that was not the one expected, -1 for no answer.
    std::optional<int> unexpected;
};

// Sends request(i) for i = 0, 1, ... over keep-alive connections of `seconds_each` (a new one
// after the server closes one) until `count` have been answered or `seconds` have passed, at
// least one either way. Every answer must have the status `expected`. A server that refuses a
// request may close before taking all of it: its answer is still read.
inline keep_alive_run run_keep_alive(int port, int seconds_each, long count, double seconds,
    int expected, const std::function<const std::string&(long)>& request)
{
    keep_alive_run run;
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int fd = -1;
    while (
        run.answered < count && (run.answered == 0 || std::chrono::steady_clock::now() < until)) {
        if (fd < 0 && (fd = connect_loopback(port, seconds_each)) < 0) {
            run.connect_failed = true;
            return run;
        }
        errno = 0;
        send_all(fd, request(run.answered));
        bool closing = false;
        const int status = read_answer(fd, closing);
        if (status < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            run.capped = true;
            break;
        }
        if (status != expected) {
            run.unexpected = status;
            break;
        }
        ++run.answered;
        if (closing) {
            ::close(fd);
            fd = -1;
        }
    }
    if (fd >= 0)
        ::close(fd);
    return run;
}
