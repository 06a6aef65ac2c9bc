// The client of bench/head_cost.sh: builds one request head of a given shape, filled to just
// under a size, and sends it over keep-alive to a server on 127.0.0.1 until COUNT answers have
// come or SECONDS have passed (at least one request either way), checking every answer's
// status. Prints "requests <answered> lines <header lines> bytes <head bytes>".
//
//   head_client PORT PATH SHAPE STATUS BYTES COUNT SECONDS [HEADER-LINE...]
//
// SHAPE is one of the shapes below, or "neutral:<shape>": a head of the same size with as many
// header lines (one at least) that names nothing, the reference for that shape. HEADER-LINEs
// ("Name: value", e.g. the token) go into every head, before the shape's own lines, and count
// towards BYTES. COUNT 0 prints the head instead of sending it.
#include "crc32c_family.h"
#include "loopback_client.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace {

// What a shape adds to the head: header lines (each with its CRLF) and a query.
struct shape_part
{
    std::vector<std::string> lines;
    std::string query; // with its "?"
    size_t bytes() const
    {
        size_t n = query.size();
        for (const auto& line : lines)
            n += line.size();
        return n;
    }
};

std::string numbered(const char* prefix, size_t i)
{
    return prefix + std::to_string(i);
}

// The largest n for which grow(n) still fits into room; grow(n) must grow with n.
shape_part fill(size_t room, const std::function<shape_part(size_t)>& grow)
{
    size_t low = 0, high = 1;
    while (grow(high).bytes() <= room)
        high *= 2;
    while (high - low > 1) {
        const size_t mid = (low + high) / 2;
        (grow(mid).bytes() <= room ? low : high) = mid;
    }
    return grow(low);
}

std::string joined(size_t n, const char* prefix, const char* suffix, const char* separator)
{
    std::string text;
    for (size_t i = 1; i <= n; ++i) {
        if (i > 1)
            text += separator;
        text += numbered(prefix, i) + suffix;
    }
    return text;
}

std::vector<std::string> repeated_lines(size_t n, const char* prefix, const char* suffix)
{
    std::vector<std::string> lines;
    lines.reserve(n);
    for (size_t i = 1; i <= n; ++i)
        lines.push_back(numbered(prefix, i) + suffix + "\r\n");
    return lines;
}

// Headers X-H<i> with a one-byte value, and a Connection header listing names with prefix
// `listed`: the same names, or as many others.
shape_part named_headers(size_t n, const char* listed)
{
    shape_part part;
    part.lines = repeated_lines(n, "X-H", ": 1");
    part.lines.push_back("Connection: " + joined(n, listed, "", ",") + "\r\n");
    return part;
}

shape_part one_line(const std::string& line)
{
    shape_part part;
    part.lines.push_back(line + "\r\n");
    return part;
}

// Distinct header names of 21 lower-case letters that all share one CRC-32C, so one hash under
// any seed of Qt's byte hash.
const std::vector<std::string>& colliding_names()
{
    static const std::vector<std::string> names = [] {
        std::vector<size_t> positions;
        for (size_t i = 1; i <= 20; ++i)
            positions.push_back(i);
        return crc32c_family("x" + std::string(20, 'a'), positions, 1, 10000);
    }();
    return names;
}

bool make_shape(const std::string& shape, size_t room, shape_part& part)
{
    if (shape == "connection-named")
        part = fill(room, [](size_t n) { return named_headers(n, "X-H"); });
    else if (shape == "connection-other")
        part = fill(room, [](size_t n) { return named_headers(n, "Y-H"); });
    else if (shape == "connection-alone")
        part = fill(
            room, [](size_t n) { return one_line("Connection: " + joined(n, "X-H", "", ",")); });
    else if (shape == "cookies")
        part = fill(
            room, [](size_t n) { return one_line("Cookie: " + joined(n, "c", "=1", "; ")); });
    else if (shape == "cookie-lines")
        part = fill(room, [](size_t n) {
            return shape_part { repeated_lines(n, "Cookie: c", "=1"), {} };
        });
    else if (shape == "same-name")
        part = fill(room, [](size_t n) {
            return shape_part { std::vector<std::string>(n, "X-Same: 1\r\n"), {} };
        });
    else if (shape == "accept-encoding")
        part = fill(room, [](size_t n) {
            return one_line("Accept-Encoding: " + joined(n, "x", ";q=0.5", ", ") + ", gzip");
        });
    else if (shape == "shared-hash")
        part = fill(room, [](size_t n) {
            const std::vector<std::string>& all = colliding_names();
            shape_part names;
            for (size_t i = 0; i < n; ++i)
                names.lines.push_back(all[i % all.size()] + ": 1\r\n");
            return names;
        });
    else if (shape == "query")
        part = fill(room, [](size_t n) {
            return shape_part { {}, "?" + joined(n, "p", "=1", "&") };
        });
    else
        return false;
    return true;
}

// As many lines as the shape has (one at least) and exactly its bytes, spread evenly over
// distinct names that nobody lists. Short lines take shorter names.
bool make_neutral(const shape_part& shaped, shape_part& part)
{
    // The query's bytes stay in the request line, where the parser reads them byte by byte
    // whatever they say: one parameter holds them all.
    if (!shaped.query.empty()) {
        part = shape_part { shaped.lines, "?p=" + std::string(shaped.query.size() - 3, 'v') };
        return true;
    }
    const size_t count = shaped.lines.empty() ? 1 : shaped.lines.size();
    const size_t bytes = shaped.bytes();
    for (const char* prefix : { "X-Pad-", "P" }) {
        size_t overhead = 0;
        for (size_t i = 1; i <= count; ++i)
            overhead += numbered(prefix, i).size() + 4; // ": " and CRLF
        if (overhead + count > bytes)
            continue; // no room for a value on every line
        const size_t values = bytes - overhead;
        part = shape_part {};
        for (size_t i = 1; i <= count; ++i) {
            const size_t length = values / count + (i <= values % count ? 1 : 0);
            part.lines.push_back(numbered(prefix, i) + ": " + std::string(length, 'v') + "\r\n");
        }
        return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 8) {
        std::fprintf(stderr,
            "usage: %s PORT PATH SHAPE STATUS BYTES COUNT SECONDS [HEADER-LINE...]\n", argv[0]);
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const std::string path = argv[2];
    std::string shape = argv[3];
    const int expected = std::atoi(argv[4]);
    const size_t bytes = size_t(std::atol(argv[5]));
    const long count = std::atol(argv[6]);
    const double seconds = std::atof(argv[7]);

    const std::string host = "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";
    std::string fixed = host;
    for (int i = 8; i < argc; ++i)
        fixed += std::string(argv[i]) + "\r\n";
    const size_t frame = std::strlen("GET  HTTP/1.1\r\n") + path.size() + fixed.size() + 2;
    if (frame >= bytes) {
        std::fprintf(stderr, "head_client: %zu bytes leave no room for a shape\n", bytes);
        return 2;
    }
    const bool neutral = shape.compare(0, 8, "neutral:") == 0;
    if (neutral)
        shape.erase(0, 8);
    shape_part part;
    if (!make_shape(shape, bytes - frame, part)) {
        std::fprintf(stderr, "head_client: unknown shape %s\n", shape.c_str());
        return 2;
    }
    if (neutral && !make_neutral(shape_part(part), part)) {
        std::fprintf(stderr, "head_client: no neutral head fits %s\n", shape.c_str());
        return 2;
    }
    std::string head = "GET " + path + part.query + " HTTP/1.1\r\n" + fixed;
    for (const auto& line : part.lines)
        head += line;
    head += "\r\n";
    if (count == 0) {
        std::fwrite(head.data(), 1, head.size(), stdout);
        return 0;
    }

    // An answer may take long when a head is costly and the server runs under valgrind.
    const int answer_seconds = 600;
    const keep_alive_run run = run_keep_alive(port, answer_seconds, count, seconds, expected,
        [&head](long) -> const std::string& { return head; });
    if (run.connect_failed) {
        std::fprintf(stderr, "head_client: connect to %d: %s\n", port, std::strerror(errno));
        return 1;
    }
    if (run.capped || run.unexpected) {
        std::fprintf(stderr, "head_client: %s%s on %s answered %d (wanted %d)\n",
            neutral ? "neutral:" : "", shape.c_str(), path.c_str(),
            run.capped ? -1 : *run.unexpected, expected);
        return 1;
    }
    std::printf("requests %ld lines %zu bytes %zu\n", run.answered, part.lines.size(), head.size());
    return 0;
}
