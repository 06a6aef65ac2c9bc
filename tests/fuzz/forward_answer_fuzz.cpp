// Bytes from a target into one forward client's connection, over loopback: the first byte picks
// the method (its high bit: HEAD, else GET) and seeds the points where the answer is split
// between writes (0: all at once), so heads, chunk sizes and bodies may arrive cut anywhere.
// Once the target has closed, the client must have reported exactly one outcome: the whole
// answer (after its head) or a failure.
#include "fuzz_app.h"
#include "http/qhttp_client.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using qhttp::client::QHttpClient;
using qhttp::client::QHttpRequest;
using qhttp::client::QHttpResponse;

namespace {

int listener = -1;
QUrl target_url;

struct outcome
{
    int heads = 0;
    int ends = 0;
    int errors = 0;
    bool done() const { return ends + errors > 0; }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    start_fuzz_app();
    listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0
        || ::listen(listener, 16) != 0
        || ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        std::abort();
    target_url = QUrl(QStringLiteral("http://127.0.0.1:%1/x").arg(ntohs(address.sin_port)));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    outcome out;
    auto* client = new QHttpClient;
    client->setConnectingTimeOut(1000);
    client->setAnswerLimit(1 << 16);
    QObject::connect(client, &QHttpClient::connectionError, [&out] { ++out.errors; });
    QObject::connect(client, &QHttpClient::connectingTimeOut, [&out] { ++out.errors; });
    const auto method = (data[0] & 0x80) ? qhttp::EHTTP_HEAD : qhttp::EHTTP_GET;
    client->request(
        method, target_url, [](QHttpRequest* request) { request->end("body"); },
        [&out](QHttpResponse* response) {
            ++out.heads;
            // What the relay reads of every answer.
            response->status();
            response->headers().value("content-type");
            response->collectData(-1);
            QObject::connect(response, &QHttpResponse::end, [&out, response] {
                ++out.ends;
                response->collectedData().size();
            });
        });

    int peer = -1;
    for (int i = 0; i < 1000 && peer < 0 && !out.done(); ++i) {
        turn();
        peer = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    }
    if (peer < 0)
        std::abort(); // a loopback connect that never completes

    uint32_t seed = data[0] & 0x7f;
    size_t sent = 1;
    while (sent < size && !out.done()) {
        size_t piece = size - sent;
        if (seed != 0) {
            seed = seed * 1103515245u + 12345u;
            piece = std::min(piece, size_t(1 + (seed >> 16) % 24));
        }
        const ssize_t n = ::send(peer, data + sent, piece, MSG_NOSIGNAL);
        if (n > 0)
            sent += size_t(n);
        else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            break;
        turn();
        drain(peer);
    }
    // The target closes, as it was asked to; what it was sent is read first, or its close
    // would reset the connection instead.
    turn();
    drain(peer);
    ::shutdown(peer, SHUT_WR);
    for (int i = 0; i < 100 && !out.done(); ++i) {
        turn();
        drain(peer);
    }
    if (!out.done())
        std::abort(); // the target has closed, the answer is neither whole nor failed
    if (out.ends + out.errors != 1 || out.heads > 1 || (out.ends == 1 && out.heads != 1))
        std::abort(); // more than one outcome, or an end without a head
    ::close(peer);
    delete client;
    turn();
    return 0;
}
