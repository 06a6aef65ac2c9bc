#pragma once

#include "app/config_factory.h"
#include "app/settings_per_loop_pass.h"
#include "http/qhttp_server.h"
#include "router/statistic.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QString>
#include <QTimer>
#include <memory>

class access_helper;
class rabbit_api_man;
struct dependency_container;

// The one application object: reads the command line and the ini file, owns the access store,
// the main AMQP link, the HTTP server and the per-client statistics, and hands every request
// to the router of the handler set the ini file names at that moment.
class Application : public QCoreApplication
{
    Q_OBJECT
public:
    Application(int& argc, char** argv);
    ~Application() override;

    // The HTTP server's request callback.
    void on_request(qhttp::server::QHttpRequest* request, qhttp::server::QHttpResponse* response);

    const statistic_map& statistics() const { return statistics_; }
    quint16 http_port() const { return server_.serverPort(); }
    int statistic_interval_ms() const { return statistic_timer_->interval(); }

signals:
    void pong(QString text);

public slots:
    void ping(QString text);
    void _statistic_timeout();

private:
    void parseCommandLine();
    std::shared_ptr<const dependency_container> current_container();

    // Released in reverse order: the timer, the HTTP server with every request still open
    // (and so every router), the statistics, the AMQP link, the access store, then the
    // factory that owns the logger all of them write to.
    QCommandLineParser parser_;
    std::unique_ptr<config_factory> config_;
    std::unique_ptr<settings_per_loop_pass> request_settings_;
    std::shared_ptr<access_helper> access_;
    std::unique_ptr<rabbit_api_man> api_man_;
    statistic_map statistics_;
    // The container every request is routed with while the ini file keeps the content it was
    // built from (the records it shares tell).
    std::shared_ptr<const dependency_container> container_;
    qhttp::server::QHttpServer server_;
    std::unique_ptr<QTimer> statistic_timer_;
};
