#pragma once

#include "access/access_helper.h"
#include "amqp/command_client.h"
#include "app/dependency_container.h"
#include "app/global_conf.h"
#include "app/logger.h"
#include "http/qhttp_server.h"
#include "router/api_handler_router.h"
#include "router/statistic.h"
#include "support/raw_http.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

// Runs the event loop until `done` holds or `wait_ms` has passed.
bool wait_until(const std::function<bool()>& done, int wait_ms = 5000);

// An access store that holds nothing and lets every modem pass the ownership check.
class null_access : public access_helper
{
public:
    void get_client_devices(QStringList, QStringList&) override { }
    QString filter_client_devices(QStringList, QString) override { return {}; }
    QString first_foreign_device(QStringList, QStringList) override { return {}; }
    std::vector<bool> owned_devices(
        const std::vector<QStringView>& devices, const QStringList&) override
    {
        return std::vector<bool>(devices.size(), true); // the check lets every modem pass
    }
    QString filter_client_stations(QStringList, QString) override { return {}; }
    QMap<QString, bool> client_device_access(QStringList, QString) override { return {}; }
    QMap<QString, bool> clients_device_access(QStringList, QStringList) override { return {}; }
    QMap<QString, bool> client_station_access(QStringList, QString) override { return {}; }
    QHash<QString, QSet<int>> stations_by_client(QStringList) override { return {}; }
    QHash<QString, QSet<int>> devices_by_client(QStringList) override { return {}; }
    QHash<QString, QHash<QString, QSet<int>>> hw_type_devices_by_client(QStringList) override
    {
        return {};
    }
    int register_dl_index(QString) override { return 0; }
    int dl_index_of(QString) override { return 0; }
    QString dl_db_id_of(int) override { return {}; }
};

// The AMQP link as the road sees it, scripted by the test: commands are kept so the test can
// answer them; a fire-and-forget publish can wait in a nested event loop like a publish to a
// broker that is away.
class fake_command_client : public command_client
{
public:
    struct command
    {
        QString type;
        QJsonObject data;
        QString routing_key;
        result_handler on_reply;
        error_handler on_error;
        QByteArray data_text; // the data as its message carries it
    };
    struct published
    {
        QString type;
        QJsonObject data;
        QString routing_key;
    };

    // The data is kept as its reader sees it, not as given: what the road holds is its own.
    void send_cmd(QString type, command_data data, QString routingKey, result_handler on_reply,
        error_handler on_error, int) override
    {
        commands.push_back({ type, data.parsed(), routingKey, on_reply, on_error,
            data.compact_after(std::string_view(), 0) });
    }
    void send_cmd_forward(QString type, command_data data, QString routeKey) override
    {
        forwards.push_back({ type, data.parsed(), routeKey });
        if (on_publish)
            on_publish();
        if (publish_wait_ms > 0) {
            QEventLoop loop;
            QTimer::singleShot(publish_wait_ms, &loop, &QEventLoop::quit);
            loop.exec();
        }
        ++publishes_done;
    }

    std::vector<command> commands;
    std::vector<published> forwards;
    int publish_wait_ms = 0;
    int publishes_done = 0;
    std::function<void()> on_publish;
};

// A client on the test's own event loop, so the in-process server keeps running while it
// waits.
class loop_client
{
public:
    explicit loop_client(quint16 port);
    bool connected() const;
    void send(const QByteArray& bytes);
    // One request; headers as given, a Content-Length when there is a body.
    void send_request(const QByteArray& method, const QByteArray& target,
        const QList<QPair<QByteArray, QByteArray>>& headers = {}, const QByteArray& body = {});
    bool read(raw_response& out, int wait_ms = 5000, bool head = false);
    void abort() { socket_->abort(); }
    QTcpSocket* socket() { return socket_.get(); }

private:
    std::unique_ptr<QTcpSocket> socket_;
    QByteArray buffer_;
};

// The request road in-process: a real HTTP server whose callback makes the router of the
// handler set under test, with a scripted AMQP link and a log file the test can read.
class road_fixture : public ::testing::Test
{
protected:
    // Serves the handler set `Set` over `store` (the fixture's own empty store when none).
    template <class Set>
    void start(access_helper* store = nullptr)
    {
        access_helper& used = store ? *store : access;
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0,
            [this, &used](
                qhttp::server::QHttpRequest* request, qhttp::server::QHttpResponse* response) {
                const dependency_container container { conf, used, log, rabbit, &forward_owner,
                    statistics, api };
                router_for_t<dependency_container, Set>::route(container, request, response);
            }));
    }

    // Checks tokens for their API keys alone, so that a caller whose token has the role "user"
    // is restricted to the modems of its keys.
    void restrict_callers_to_their_keys();
    // A caller with the role "user" and the API key "k" (token signed with "sign").
    static QList<QPair<QByteArray, QByteArray>> restricted_user();
    // Sends one request: true when a command went out (the last of api.commands, cleared
    // before), else false with the answer read into `answer`.
    bool command_or_answer(const QByteArray& method, const QByteArray& target,
        const QList<QPair<QByteArray, QByteArray>>& headers, const QByteArray& body,
        raw_response& answer);

    quint16 port() const { return server.serverPort(); }
    // One request on a fresh connection, answered or not within wait_ms.
    raw_response request(const QByteArray& method, const QByteArray& target,
        const QList<QPair<QByteArray, QByteArray>>& headers = {}, const QByteArray& body = {},
        int wait_ms = 5000);
    QByteArray log_text() const;
    // The caller's newest record.
    request_record newest(const QString& email = QString()) const;

    QTemporaryDir dir;
    logger log { dir.filePath("road.log"), QString(), LOG_DEBUG };
    null_access access;
    fake_command_client api;
    QObject forward_owner;
    statistic_map statistics;
    global_conf conf;
    rabbit_api_config rabbit;
    qhttp::server::QHttpServer server;
};
