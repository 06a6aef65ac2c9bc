// answer_target: the forward target of bench/input_cost.sh. Serves 127.0.0.1:PORT one
// connection at a time: reads a request (its head, then the body its Content-Length
// announces), answers with the bytes of the file given for the first WORD its request target
// holds, else with a small 200 answer, and closes the connection, as the gateway's forwards ask.
//
//   answer_target PORT [WORD FILE]...
//
// A FILE holds a whole answer, head and body, sent as it stands.
#include "loopback_client.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 2 || argc % 2 != 0) {
        std::fprintf(stderr, "usage: %s PORT [WORD FILE]...\n", argv[0]);
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::pair<std::string, std::string>> answers;
    for (int i = 2; i + 1 < argc; i += 2) {
        std::ifstream file(argv[i + 1], std::ios::binary);
        answers.emplace_back(argv[i],
            std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>()));
    }
    const std::string small = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                              "Content-Length: 11\r\n\r\n{\"ok\":true}";

    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(server, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(std::atoi(argv[1])));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(server, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0
        || ::listen(server, 64) != 0) {
        std::perror("answer_target: listen");
        return 1;
    }
    for (;;) {
        const int fd = ::accept(server, nullptr, nullptr);
        if (fd < 0)
            continue;
        // The request line's target, empty when the client went first.
        const std::string head = read_message(fd);
        const size_t from = head.find(' ') + 1;
        const std::string target = head.substr(from, head.find(' ', from) - from);
        const std::string* answer = &small;
        for (const auto& [word, bytes] : answers) {
            if (target.find(word) != std::string::npos) {
                answer = &bytes;
                break;
            }
        }
        if (!head.empty())
            send_all(fd, *answer);
        ::close(fd);
    }
}
