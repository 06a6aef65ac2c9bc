#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QTcpSocket>
#include <memory>

// One parsed HTTP answer as it came off the wire.
struct raw_response
{
    int status = 0;
    QList<QPair<QByteArray, QByteArray>> headers; // in arrival order, names as sent
    QByteArray body;
    QByteArray header(const QByteArray& name) const; // case-insensitive, first match
    int header_count(const QByteArray& name) const;
    int index_of(const QByteArray& name) const; // position among the headers, -1 if absent
};

// A blocking HTTP/1.1 client for tests: writes bytes as given and reads answers off the wire.
class raw_http
{
public:
    explicit raw_http(quint16 port, const QString& host = "127.0.0.1");
    bool connected() const;
    void send(const QByteArray& bytes);
    // Reads one answer (Content-Length framed; HEAD answers have no body). false on time-out
    // or closed connection.
    bool read(raw_response& out, int wait_ms = 10000, bool head = false);
    // True when the server closed the connection within wait_ms.
    bool wait_closed(int wait_ms = 5000);

    // One request on a fresh connection.
    static raw_response request(quint16 port, const QByteArray& method, const QByteArray& target,
        const QList<QPair<QByteArray, QByteArray>>& headers = {}, const QByteArray& body = {},
        int wait_ms = 10000);

private:
    bool fill(int wait_ms);
    std::unique_ptr<QTcpSocket> sock_;
    QByteArray buf_;
};
