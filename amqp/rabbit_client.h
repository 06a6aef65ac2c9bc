#pragma once

#include "amqp/rabbit_connector.h"
#include "amqp/rabbit_delivery.h"
#include "amqp/rabbit_output_buffer.h"
#include "amqp/rabbit_session.h"
#include "amqp/rabbit_url.h"
#include "amqp/write_batch.h"
#include "app/logger.h"

#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <deque>
#include <map>
#include <memory>

class rabbit_queue;

// One broker connection with one channel, living in the Qt event loop. The login runs on a
// worker (rabbit_connector); after that every frame is read through a socket notifier and
// never waited for, and on plain TCP written without waiting: what the socket does not take
// leaves through a write notifier. Any failure, a channel closed by the broker included, drops
// the whole connection and a new one is made after the reconnect interval.
class rabbit_client : public QObject, private write_batch::member
{
    Q_OBJECT
public:
    // name prefixes the client's own log lines and names the connection on the broker.
    rabbit_client(logger& log, const QString& name, QObject* parent = nullptr);
    ~rabbit_client() override;

    // Starts connecting at once (the result arrives on a later pass of the event loop).
    void connect_to_host(const QString& url, const QString& vhost);
    bool is_connected() const { return session_ != nullptr; }
    // The queue object for a name; the same object across reconnections.
    rabbit_queue* create_queue(const QString& name);
    // Hands one message to the connection; false when it could not (it is lost then), the
    // unsent bytes of the connection being at their cap included. A large body is kept, not
    // copied, until it has left.
    bool publish(const QString& exchange, const QByteArray& routing_key, QByteArray body,
        const QString& content_type);

    // Test seam: production keeps 30,000 ms.
    static void set_reconnect_interval_ms(int ms);
    static int reconnect_interval_ms();

    // Bytes a plain-TCP connection holds for a broker that does not read, at most.
    static constexpr size_t max_unsent_bytes = size_t(64) << 20;

signals:
    void connected();
    void disconnected();

private:
    friend class rabbit_queue;
    struct pending_reply
    {
        QPointer<rabbit_queue> waiter;
        amqp_method_number_t method;
    };
    struct incoming_content
    {
        bool active = false;
        bool have_header = false;
        QByteArray consumer_tag;
        uint64_t channel_tag = 0;
        uint64_t body_size = 0;
        rabbit_delivery delivery;
    };

    bool send_method(amqp_method_number_t method, void* decoded, rabbit_queue* waiter,
        amqp_method_number_t reply);
    bool ack(uint64_t delivery_tag, bool multiple);
    bool reject(uint64_t delivery_tag, bool requeue);
    QByteArray register_consumer(rabbit_queue* queue);
    void unregister_consumer(const QByteArray& tag);

    void start_attempt();
    void on_attempt_done(
        quint64 attempt, std::shared_ptr<rabbit_session> session, const QString& error);
    void drain();
    void schedule_drain();
    // After a write: the library may have read frames that the notifier will not report.
    void drain_if_buffered();
    // Around one write: begin is false when the connection cannot take it; end gets the
    // write's status and is false when the connection is lost by now.
    bool begin_write();
    bool end_write(int status, const char* operation);
    void end_write_batch() override;
    // Sends what output_ holds as far as the socket takes it; the rest leaves when the socket
    // is writable again. False when the connection is lost by now.
    bool flush_output();
    bool send_output();
    void on_heartbeat_tick();
    void send_heartbeat();
    void handle_frame(const amqp_frame_t& frame);
    void handle_method(amqp_channel_t channel, const amqp_method_t& method);
    void finish_content();
    bool accepts_tag(uint64_t delivery_tag, const char* operation);
    bool writable();
    // Drops the connection, reports disconnected() and schedules the next attempt.
    void lose(const QString& reason, bool socket_alive);

    logger& log_;
    QString name_;
    QString masked_url_;
    rabbit_endpoint endpoint_;
    bool endpoint_ok_ = false;
    std::unique_ptr<rabbit_connector> connector_;
    quint64 attempt_ = 0;
    std::shared_ptr<rabbit_session> session_;
    QSocketNotifier* notifier_ = nullptr;
    // On while output_ waits for the socket to take more.
    QSocketNotifier* write_notifier_ = nullptr;
    // Runs while output_ waits: nothing left for the write time-out ends the connection.
    QTimer write_timer_;
    QTimer heartbeat_timer_;
    bool read_since_tick_ = false;
    bool wrote_since_tick_ = false;
    int silent_ticks_ = 0;
    QTimer reconnect_timer_;
    uint16_t generation_ = 0;
    bool draining_ = false;
    bool drain_posted_ = false;
    // Plain TCP: frames collect in output_ and leave at the end of the event-loop pass. Over
    // TLS every frame goes through the library at once.
    bool buffered_ = false;
    bool in_write_batch_ = false;
    rabbit_output_buffer output_;
    quint64 consumer_count_ = 0;
    std::map<QString, rabbit_queue*> queues_;
    std::map<QByteArray, QPointer<rabbit_queue>> consumers_;
    std::deque<pending_reply> replies_;
    incoming_content incoming_;
    // The texts of the latest delivery, shared by the next one where they are the same.
    struct
    {
        QByteArray consumer_tag;
        QString exchange;
        QString routing_key;
        QString content_type;
    } recent_;
};
