#include "collector_road_fixture.h"

#include <QJsonArray>
#include <QJsonDocument>

// The user-database service pushes ownership to the gateway over the gateway's second link;
// the push is executed and answered there.

namespace {

class user_db_push_test : public collector_road_test
{
protected:
    void SetUp() override
    {
        collector_road_test::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        auth = std::make_unique<broker_probe>("/");
        ASSERT_TRUE(auth->ok());
        // Shared with other users of the broker: made when missing, never deleted. A
        // declaration refused for other flags still means it is there.
        auth->declare_exchange(auth_exchange);
        ram_queue = "ram." + unique;
        reply_key = "reply." + unique;
        ASSERT_TRUE(auth->declare_queue(reply_key, auth_exchange, reply_key));
    }
    void TearDown() override
    {
        collector_road_test::TearDown();
        // The link declares its queue durable: it outlives the gateway.
        if (auth && auth->ok()) {
            auth->delete_queue(reply_key);
            auth->delete_queue(ram_queue);
        }
    }

    const QString auth_exchange = "nelqa.auth";
    QString ram_queue;
    QString reply_key;
    std::unique_ptr<broker_probe> auth;
};

TEST_F(user_db_push_test, clients_devices_is_executed_and_answered_with_the_id_in_one_form)
{
    start_collector(
        { { "RAM_USER_DB_SERVICE_SETTINGS/R_LOGIN", test_services::amqp_url() },
            { "RAM_USER_DB_SERVICE_SETTINGS/R_VHOST", "/" },
            { "RAM_USER_DB_SERVICE_SETTINGS/R_EXCHANGE", auth_exchange },
            { "RAM_USER_DB_SERVICE_SETTINGS/R_QUEUE", ram_queue },
            { "RAM_USER_DB_SERVICE_SETTINGS/R_BINDINGS", auth_exchange + ":" + ram_queue } },
        { { "GORVEX_TEST_COMMIT_DELAY_MS", "100" } });
    ASSERT_TRUE(wait_links_up(2)) << gateway->output().constData();

    const QJsonArray owners { QJsonObject { { "api_key", "key-" + unique },
        { "modem_ids", QJsonArray { 101, 102 } }, { "station_ids", QJsonArray { 7 } } } };
    auto push = [&](const QString& type, const QString& id) {
        const QJsonObject command { { "cmd_id", id }, { "data", owners }, { "msg_type", type },
            { "sender", reply_key } };
        return QJsonDocument(command).toJson(QJsonDocument::Compact);
    };

    struct row
    {
        const char* behaviour;
        QByteArray body;
        const char* answered_id; // nullptr: rejected, no answer
    };
    const row rows[] = {
        { "a braced lower-case id comes back as it was",
            push("clients_devices", "{0b6d1a2c-3e4f-4a5b-8c7d-9e0f1a2b3c4d}"),
            "{0b6d1a2c-3e4f-4a5b-8c7d-9e0f1a2b3c4d}" },
        { "an unknown command is not answered",
            push("no_such_command", "{1b6d1a2c-0000-4000-8000-000000000000}"), nullptr },
        { "an upper-case id without braces comes back braced in lower case",
            push("clients_devices", "0B6D1A2C-3E4F-4A5B-8C7D-9E0F1A2B3C4E"),
            "{0b6d1a2c-3e4f-4a5b-8c7d-9e0f1a2b3c4e}" },
        { "a body that is not JSON is not answered", "clients_devices, please", nullptr },
        { "a JSON array is not answered", "[1]", nullptr },
        { "an id that is no id comes back as the null id", push("clients_devices", "twelve"),
            "{00000000-0000-0000-0000-000000000000}" },
    };
    // The answers leave in order: each answered row's answer is the next message the service
    // gets, so nothing was answered for the rows before it.
    for (const row& r : rows) {
        ASSERT_TRUE(auth->publish(auth_exchange, ram_queue, r.body)) << r.behaviour;
        if (!r.answered_id)
            continue;
        const auto answer = auth->wait_get(reply_key);
        ASSERT_TRUE(answer.has_value()) << r.behaviour;
        EXPECT_EQ(answer->body,
            QByteArray("{\"cmd_id\":\"") + r.answered_id
                + "\",\"data\":{},\"msg_type\":\"response\"}")
            << r.behaviour;
        EXPECT_EQ(answer->content_type, "text/plain") << r.behaviour;
    }
    EXPECT_FALSE(auth->get(reply_key).has_value());
    EXPECT_TRUE(gateway->running());
}

} // namespace
