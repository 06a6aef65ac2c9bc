#pragma once

#include "http/qhttp_server.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <http_parser.h>

namespace qhttp {

class tcp_stream;

namespace server {

// One client connection of the server. Requests are parsed in order; each is handed to the
// server's handler when its head is complete, and the next one is only started once the
// previous answer has been written, so answers leave in the order the requests came.
//
// User code (the request handler and `end` handlers) may run a nested event loop in which the
// client can go away. While such code is on the stack nothing of this connection is deleted;
// the request and the connection are released with deleteLater once it has returned.
class QHttpConnection : public QObject
{
    Q_OBJECT
public:
    QHttpConnection(tcp_stream* socket, QHttpServer* server);
    ~QHttpConnection() override;

private:
    friend class QHttpResponse;

    enum class stage {
        idle, // between requests
        head, // reading a request's head
        body, // head handed over, reading the body
        complete, // whole request read, waiting for its answer
    };
    enum class event { none, head_done, message_done };

    // Keeps the count of user calls on the stack; the last one out releases what was put off.
    class user_call
    {
    public:
        explicit user_call(QHttpConnection* c);
        ~user_call();

    private:
        QPointer<QHttpConnection> c_;
    };

    void write_answer(QHttpResponse* response, const QByteArray& body);

    void pump();
    bool read_socket();
    void take_input();
    void schedule_pump();
    void dispatch_head();
    void dispatch_end();
    void fail(http_errno error);
    void answer_error(int status, const QByteArray& json);
    // Lets go of the request being served; answer_bytes: the size of its answer's body.
    void detach_request(qint64 answer_bytes = 0);
    void close_after_answer();
    void teardown();
    void on_idle_timer();
    void arm_timer(qint64 now, qint64 idle_in);
    void start_head_clock();
    bool output_full();
    void commit_header();

    static const http_parser_settings& parser_settings();
    static int on_message_begin(http_parser* p);
    static int on_url(http_parser* p, const char* at, size_t length);
    static int on_header_field(http_parser* p, const char* at, size_t length);
    static int on_header_value(http_parser* p, const char* at, size_t length);
    static int on_headers_complete(http_parser* p);
    static int on_body(http_parser* p, const char* at, size_t length);
    static int on_message_complete(http_parser* p);

    tcp_stream* socket_;
    QHttpServer* server_;
    // One timer watches both idleness and the head deadline; times are milliseconds on clock_.
    QTimer* idle_timer_;
    QElapsedTimer clock_;
    qint64 last_activity_ = 0;
    qint64 head_started_ = -1; // -1: no request head is under way
    qint64 timer_due_ = 0;
    qint64 unsent_at_last_check_ = 0;
    QString remote_address_;
    quint16 remote_port_ = 0;

    http_parser parser_;
    QByteArray in_;
    int in_pos_ = 0;
    stage stage_ = stage::idle;
    event event_ = event::none;

    // The request head under construction.
    QByteArray target_;
    header_key field_; // the table's own key type: no conversion per header
    QByteArray value_;
    bool in_value_ = false;
    THeaderHash headers_;
    qint64 body_bytes_ = 0;
    bool body_too_large_ = false;

    // The request being served.
    QPointer<QHttpRequest> request_;
    QPointer<QHttpResponse> response_;
    bool keep_alive_ = true;
    bool http10_ = false;

    int user_depth_ = 0;
    QPointer<QHttpRequest> release_;
    bool gone_ = false; // the client went away; nothing more is read or written
    bool closing_ = false; // the connection closes once the last answer has left
    bool pump_scheduled_ = false;
    bool readable_ = false; // the socket said it has input that has not been read yet
    bool output_full_ = false; // reading stopped until the unsent answers drain
};

} // namespace server
} // namespace qhttp
