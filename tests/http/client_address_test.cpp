#include "http/qhttp_client.h"
#include "http_test_support.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

using namespace qhttp::client;
using http_test::wait_until;

namespace {

// A target that answers every request on its connection with a fixed 200.
class echo_target
{
public:
    echo_target()
    {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            QTcpSocket* socket = server_.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                received += socket->readAll();
                if (received.contains("\r\n\r\n"))
                    socket->write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
            });
        });
    }
    quint16 port() const { return server_.serverPort(); }
    QByteArray received;

private:
    QTcpServer server_;
};

struct result
{
    QStringList events;
    QByteArray body;
};

void get(QHttpClient& client, const QUrl& url, result& out)
{
    QObject::connect(&client, &QHttpClient::connectionError, [&out] { out.events << "error"; });
    QObject::connect(&client, &QHttpClient::connectingTimeOut, [&out] { out.events << "timeout"; });
    client.request(
        qhttp::EHTTP_GET, url, [](QHttpRequest* request) { request->end(); },
        [&out](QHttpResponse* response) {
            response->collectData(-1);
            QObject::connect(response, &QHttpResponse::end, [&out, response] {
                out.events << "end";
                out.body = response->collectedData();
            });
        });
}

// The target of a forward may be named by address or by host name; a name is looked up first
// and its addresses are tried in turn (the machine's name may give an IPv6 address first,
// where nothing listens). Only names the hosts file knows: no lookup may leave the machine.
TEST(HttpClientAddress, TargetsByAddressOrByName)
{
    const struct
    {
        const char* behaviour;
        QString host;
        QStringList events;
    } cases[] = {
        { "IPv4 address", QStringLiteral("127.0.0.1"), { "end" } },
        { "host name of the local machine", QStringLiteral("localhost"), { "end" } },
    };
    for (const auto& c : cases) {
        echo_target t;
        result out;
        QHttpClient client;
        client.setConnectingTimeOut(5000);
        get(client, QUrl(QStringLiteral("http://%1:%2/x").arg(c.host).arg(t.port())), out);
        ASSERT_TRUE(wait_until([&] { return !out.events.isEmpty(); }, 10000)) << c.behaviour;
        http_test::spin(20);
        EXPECT_EQ(out.events, c.events) << c.behaviour;
        if (c.events == QStringList { "end" }) {
            EXPECT_EQ(out.body, "ok") << c.behaviour;
            EXPECT_TRUE(t.received.startsWith("GET /x HTTP/1.1\r\n")) << c.behaviour;
        }
    }
}

} // namespace
