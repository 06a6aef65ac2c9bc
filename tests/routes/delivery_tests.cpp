#include "road_fixture.h"
#include "test_handlers.h"

#include "app/heap_trim.h"

#include <zlib.h>

namespace {

using delivery_set = handler_set<ReadyHandler, RabbitHandler, GetOnlyHandler, KeptTextHandler>;

QByteArray gunzip(const QByteArray& data)
{
    z_stream stream {};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
        return "<inflateInit2 failed>";
    QByteArray out;
    char chunk[4096];
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    int rc = Z_OK;
    while (rc == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof chunk;
        rc = inflate(&stream, Z_NO_FLUSH);
        out.append(chunk, int(sizeof chunk - stream.avail_out));
    }
    inflateEnd(&stream);
    return rc == Z_STREAM_END ? out : QByteArray("<corrupt gzip>");
}

class delivery_test : public road_fixture
{
protected:
    void SetUp() override
    {
        conf.CHECK_TOKEN_VALID = false;
        conf.CHECK_TOKEN_EXP_TIME = false;
        start<delivery_set>();
    }
    bool request_destroyed_logged(int times = 1)
    {
        return log_text().count("Request destroyed and response canceled") >= times;
    }
};

TEST_F(delivery_test, ready_answer_writes_status_sorted_headers_and_body)
{
    const raw_response r = request("GET", "/t/ready");
    EXPECT_EQ(r.status, 201);
    EXPECT_EQ(r.body, ReadyHandler::body());
    ASSERT_GE(r.index_of("X-A"), 0);
    EXPECT_LT(r.index_of("X-A"), r.index_of("x-b"));
    EXPECT_TRUE(api.forwards.empty());
    EXPECT_EQ(newest().status, EXECUTED);
    EXPECT_GE(newest().exec_ms, 0);
}

TEST_F(delivery_test, gzip_only_for_exactly_gzip)
{
    struct row
    {
        const char* behaviour;
        const char* query;
        bool gzipped;
        QByteArray plain;
    };
    const row rows[] = {
        { "exactly gzip compresses", "enc=gzip", true, ReadyHandler::body() },
        { "an empty body still goes through the encoder", "enc=gzip&empty=1", true, {} },
        { "another letter case is left alone", "enc=GZIP", false, ReadyHandler::body() },
        { "a list of encodings is left alone", "enc=gzip,%20br", false, ReadyHandler::body() },
        { "no encoding header", "x=1", false, ReadyHandler::body() },
    };
    for (const row& r : rows) {
        const raw_response answer = request("GET", QByteArray("/t/ready?") + r.query);
        ASSERT_EQ(answer.status, 201) << r.behaviour;
        if (r.gzipped) {
            EXPECT_TRUE(answer.body.startsWith("\x1f\x8b\x08")) << r.behaviour;
            EXPECT_EQ(gunzip(answer.body), r.plain) << r.behaviour;
        } else {
            EXPECT_EQ(answer.body, r.plain) << r.behaviour;
        }
    }
}

TEST_F(delivery_test, ready_answer_publishes_its_command_first)
{
    const raw_response r = request("GET", "/t/ready?cmd=reboot");
    EXPECT_EQ(r.status, 201);
    ASSERT_EQ(api.forwards.size(), 1u);
    EXPECT_EQ(api.forwards[0].type, "reboot");
    EXPECT_EQ(api.forwards[0].routing_key, "fire.key");
    EXPECT_EQ(api.forwards[0].data, QJsonObject({ { "k", "v" } }));
}

// The publish of a ready answer's command can wait for the broker in a nested event loop;
// the client leaving meanwhile destroys the request and its router under the call.
TEST_F(delivery_test, client_leaving_during_a_publish_is_noticed)
{
    api.publish_wait_ms = 1000;
    loop_client client(port());
    // Leaves while the publish waits.
    api.on_publish
        = [&client] { QTimer::singleShot(100, client.socket(), [&client] { client.abort(); }); };
    client.send_request("GET", "/t/ready?cmd=reboot");
    ASSERT_TRUE(wait_until([this] { return api.publishes_done == 1; }));
    EXPECT_TRUE(wait_until([this] { return request_destroyed_logged(); }));
    EXPECT_EQ(request("GET", "/t/get").status, 200);
}

struct rabbit_fixture : delivery_test
{
    // Sends a command request and waits for the command to reach the link.
    fake_command_client::command& send(loop_client& client, const QByteArray& target)
    {
        const size_t before = api.commands.size();
        client.send_request("GET", target);
        EXPECT_TRUE(wait_until([&] { return api.commands.size() > before; }));
        return api.commands.back();
    }
};

TEST_F(rabbit_fixture, answers_at_the_reply_that_completes_the_command)
{
    loop_client client(port());
    auto& command = send(client, "/t/rabbit?n=2&route_key=cmd.other");
    EXPECT_EQ(command.type, "count");
    EXPECT_EQ(command.routing_key, "cmd.other");

    EXPECT_FALSE(command.on_reply(QJsonDocument(QJsonObject { { "r", 1 } })));
    EXPECT_EQ(newest().status, WAIT);
    EXPECT_TRUE(command.on_reply(QJsonDocument(QJsonObject { { "r", 2 } })));

    raw_response r;
    ASSERT_TRUE(client.read(r));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.header("content-type"), "application/json");
    EXPECT_EQ(r.body, R"({"last":{"r":2},"replies":2})");
    EXPECT_EQ(newest().status, EXECUTED);
}

// A command may wait half an hour for its reply: meanwhile only what its answer needs is
// held, not the request's body nor the command's data.
TEST_F(rabbit_fixture, a_command_in_flight_holds_neither_body_nor_data)
{
    loop_client client(port());
    client.send_request("POST", "/t/kept", {}, QByteArray(1000, 'b'));
    ASSERT_TRUE(wait_until([this] { return !api.commands.empty(); }));
    EXPECT_EQ(api.commands.back().data, QJsonObject({ { "n", 1 }, { "text", "ready" } }));
    EXPECT_TRUE(KeptTextHandler::body().isDetached());
    EXPECT_TRUE(KeptTextHandler::text().isDetached());

    EXPECT_TRUE(api.commands.back().on_reply(QJsonDocument(QJsonObject { { "r", 1 } })));
    raw_response r;
    ASSERT_TRUE(client.read(r));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, R"({"r":1})");
}

// What a large request made goes back to the system once its handler has run, and what its
// answer made once it is answered.
TEST_F(rabbit_fixture, a_large_request_is_trimmed_after_once_handled_and_once_answered)
{
    int trims = 0;
    heap_trim trimmer([&trims] { ++trims; }, heap_trim::timing { 0, 60 * 1000 });
    heap_trim::install(&trimmer);
    loop_client client(port());
    client.send_request("POST", "/t/kept", {}, QByteArray(int(heap_trim::large_work_bytes), 'b'));
    ASSERT_TRUE(wait_until([this] { return !api.commands.empty(); }));
    EXPECT_TRUE(wait_until([&trims] { return trims == 1; })) << "handled";

    EXPECT_TRUE(api.commands.back().on_reply(QJsonDocument(QJsonObject { { "r", 1 } })));
    raw_response r;
    ASSERT_TRUE(client.read(r));
    EXPECT_TRUE(wait_until([&trims] { return trims == 2; })) << "answered";
}

TEST_F(rabbit_fixture, default_routing_key_and_an_error_answer)
{
    loop_client client(port());
    auto& command = send(client, "/t/rabbit?n=1");
    EXPECT_EQ(command.routing_key, "cmd.test");
    command.on_error("rabbit command execution timeout");

    raw_response r;
    ASSERT_TRUE(client.read(r));
    EXPECT_EQ(r.status, 500);
    EXPECT_EQ(r.body, "rabbit command execution timeout");
    EXPECT_EQ(r.header_count("content-type"), 0);
    EXPECT_EQ(newest().status, WAIT);
}

TEST_F(rabbit_fixture, replies_after_the_client_left_write_nothing)
{
    loop_client client(port());
    auto& command = send(client, "/t/rabbit?n=1");
    client.abort();
    ASSERT_TRUE(wait_until([this] { return request_destroyed_logged(); }));

    // The command still completes, so the link drops it.
    EXPECT_TRUE(command.on_reply(QJsonDocument(QJsonObject { { "late", true } })));
    command.on_error("too late as well");
    EXPECT_EQ(newest().status, WAIT);
    EXPECT_EQ(request("GET", "/t/get").status, 200);
}

TEST_F(rabbit_fixture, a_throwing_post_processor_answers_500_and_ends_its_command)
{
    struct row
    {
        const char* behaviour;
        QByteArray target;
        QByteArray body; // empty: any text
    };
    const std::vector<row> rows = {
        { "throws", "/t/rabbit?n=1&fail=merge%20broke", "merge broke" },
        { "empty post-processor", "/t/rabbit?n=1&fail=empty", "" },
    };
    for (const row& r : rows) {
        loop_client client(port());
        auto& command = send(client, r.target);
        // The exception goes on to the link, which rejects the reply and drops the command
        // and its timer, so no later reply or time-out reaches it.
        EXPECT_THROW(command.on_reply(QJsonDocument(QJsonObject { { "r", 1 } })), std::exception)
            << r.behaviour;
        raw_response answer;
        ASSERT_TRUE(client.read(answer, 1000)) << r.behaviour;
        EXPECT_EQ(answer.status, 500) << r.behaviour;
        if (r.body.isEmpty())
            EXPECT_FALSE(answer.body.isEmpty()) << r.behaviour;
        else
            EXPECT_EQ(answer.body, r.body) << r.behaviour;
        EXPECT_TRUE(log_text().contains("reply of command count failed: ")) << r.behaviour;
        command.on_error("rabbit command execution timeout");

        // The next command on the same connection is answered normally.
        auto& next = send(client, "/t/rabbit?n=1");
        EXPECT_TRUE(next.on_reply(QJsonDocument(QJsonObject { { "r", 2 } })));
        ASSERT_TRUE(client.read(answer)) << r.behaviour;
        EXPECT_EQ(answer.status, 200) << r.behaviour;
        EXPECT_EQ(answer.body, R"({"last":{"r":2},"replies":1})") << r.behaviour;
    }
}

} // namespace
