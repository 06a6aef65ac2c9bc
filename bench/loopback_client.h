#pragma once

// What the benchmark programs share: blocking connections to a server on 127.0.0.1, and the
// HTTP messages read from them.
#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
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
