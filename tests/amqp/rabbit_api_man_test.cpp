#include "amqp/command_message.h"
#include "amqp/rabbit_api_man.h"
#include "amqp_test_support.h"
#include "broker_probe.h"
#include "support/test_services.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

const QString id_pattern
    = R"(\{[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}\})";

int count_matches(const QRegularExpression& pattern, const QString& text)
{
    int n = 0;
    for (auto it = pattern.globalMatch(text); it.hasNext(); it.next())
        ++n;
    return n;
}

struct short_command_timeout
{
    explicit short_command_timeout(int ms) { rabbit_api_man::set_command_timeout_ms(ms); }
    ~short_command_timeout() { rabbit_api_man::set_command_timeout_ms(1800000); }
};

// Replies with a copy of what it was given.
class echo_command : public ICommandHandler
{
public:
    QJsonObject execute(const rabbit_message& m) override
    {
        QJsonObject out { { "sender", m.sender }, { "type", m.msg_type } };
        out.insert("data",
            m.data.isArray()        ? QJsonValue(m.data.array())
                : m.data.isObject() ? QJsonValue(m.data.object())
                                    : QJsonValue());
        return out;
    }
    QString name() override { return "echo"; }
};

std::shared_ptr<ICommandHandler> echo_factory(const QString& type)
{
    if (type != "echo")
        throw std::runtime_error((type + " does not exist").toStdString());
    return std::make_shared<echo_command>();
}

// One link on an exchange of the test's own. Its queue dead-letters into `dead`, so a
// rejected message (and only a rejected one) shows up there.
class LinkOnBroker : public ::testing::Test
{
protected:
    void SetUp() override
    {
        GORVEX_NEED_BROKER();
        ASSERT_TRUE(probe.ok());
        ASSERT_TRUE(probe.declare_exchange(exchange));
        ASSERT_TRUE(probe.declare_exchange(dead_exchange));
        ASSERT_TRUE(probe.declare_queue(dead, dead_exchange, sender));
        ASSERT_TRUE(probe.declare_queue(peer, exchange, "peer.key"));
    }
    void TearDown() override
    {
        fake.reset();
        link.reset();
        if (probe.ok()) {
            for (const QString& q : { dead, peer, link_queue })
                probe.delete_queue(q);
            for (const QString& e : { exchange, dead_exchange })
                probe.delete_exchange(e);
        }
    }
    rabbit_api_config config(bool with_binding = true)
    {
        rabbit_api_config c;
        c.url = test_services::amqp_url();
        c.queue = link_queue;
        c.vhost = "/api";
        if (with_binding)
            c.bindings = { { exchange, sender } };
        c.queue_options = QUEUE_AUTO_DELETE;
        c.prefetch = 10;
        c.declare_arguments = { { "x-dead-letter-exchange", dead_exchange } };
        c.exchange = exchange;
        return c;
    }
    bool make_link(command_factory factory = {}, bool with_binding = true, int times = 1)
    {
        link = std::make_unique<rabbit_api_man>(
            logs.log(), config(with_binding), std::move(factory), nullptr);
        return logs.wait_for(" Rabbit_man_ul: Queue bound", times)
            && logs.wait_for("rabbit_publisher_impl: Connected", times);
    }
    bool start_fake(const QJsonObject& script)
    {
        QFile f(dir.filePath("script.json"));
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(QJsonDocument(script).toJson());
        f.close();
        fake = std::make_unique<fake_backend_process>(QStringList { "--url",
            test_services::amqp_url(), "--vhost", "/api", "--exchange", exchange, "--queue",
            unique_name("svc"), "--bind", "svc", "--script", f.fileName() });
        return fake->ready();
    }
    // A command that the fake answers at once; returns when its reply was handled.
    bool round_trip()
    {
        bool done = false;
        link->send_cmd(
            "ping", {}, "svc", [&](QJsonDocument) { return done = true; }, [](QString) {});
        return wait_until([&] { return done; });
    }
    QByteArray command(const QString& type, const QString& id, const QJsonValue& data)
    {
        QJsonObject c { { "cmd_id", id }, { "msg_type", type }, { "sender", "peer.key" } };
        if (!data.isUndefined())
            c.insert("data", data);
        return QJsonDocument(c).toJson(QJsonDocument::Compact);
    }

    QTemporaryDir dir;
    log_capture logs;
    broker_probe probe;
    QString exchange = unique_name("api");
    QString dead_exchange = unique_name("api.dlx");
    QString dead = unique_name("api.dead");
    QString peer = unique_name("api.peer");
    QString link_queue = unique_name("api.link");
    QString sender = unique_name("gw");
    std::unique_ptr<rabbit_api_man> link;
    std::unique_ptr<fake_backend_process> fake;
};

const QJsonObject ping_script { { "ping", QJsonArray { QJsonObject { { "data", "pong" } } } } };

TEST_F(LinkOnBroker, CommandsGoOutAsCompactSortedJson)
{
    ASSERT_TRUE(probe.declare_queue(peer, exchange, "svc"));
    ASSERT_TRUE(make_link());
    struct row
    {
        const char* behaviour;
        bool forward;
        QJsonObject data;
        int sharded;
        QString tail; // what follows "cmd_id":"{...}",
    };
    const QString s = QRegularExpression::escape(sender);
    const row rows[] = {
        { "empty data, sharded 0: exactly four keys", false, {}, 0,
            R"("data":\{\},"msg_type":"read_params","sender":")" + s + R"("\})" },
        { "sharded 5 is the last key", false, {}, 5,
            R"("data":\{\},"msg_type":"read_params","sender":")" + s + R"(","sharded":5\})" },
        { "data keys sorted", false, { { "b", 1 }, { "a", QJsonArray { 1 } } }, 0,
            R"("data":\{"a":\[1\],"b":1\},"msg_type":"read_params","sender":")" + s + R"("\})" },
        { "fire-and-forget", true, { { "x", "y" } }, 0,
            R"("data":\{"x":"y"\},"msg_type":"read_params","sender":")" + s + R"("\})" },
    };
    for (const row& r : rows) {
        if (r.forward)
            link->send_cmd_forward("read_params", r.data, "svc");
        else
            link->send_cmd(
                "read_params", r.data, "svc", [](QJsonDocument) { return true; }, [](QString) {},
                r.sharded);
        const auto got = probe.wait_get(peer);
        ASSERT_TRUE(got) << r.behaviour;
        EXPECT_EQ(got->content_type, "text/plain") << r.behaviour;
        const QRegularExpression wire("^\\{\"cmd_id\":\"" + id_pattern + "\"," + r.tail + "$");
        EXPECT_TRUE(wire.match(QString::fromUtf8(got->body)).hasMatch())
            << r.behaviour << ": " << got->body.constData();
    }
}

TEST_F(LinkOnBroker, LinkWithoutBindingSendsAnEmptySender)
{
    ASSERT_TRUE(probe.declare_queue(peer, exchange, "svc"));
    rabbit_api_config settings = config(false);
    settings.skipped_bindings = QStringList { "nocolon" };
    link = std::make_unique<rabbit_api_man>(
        logs.log(), std::move(settings), command_factory {}, nullptr);
    EXPECT_EQ(logs.count("binding \"nocolon\" of queue " + link_queue), 1);
    EXPECT_EQ(logs.count("no binding configured for queue " + link_queue), 1);
    link->send_cmd_forward("t", {}, "svc");
    const auto got = probe.wait_get(peer);
    ASSERT_TRUE(got);
    EXPECT_TRUE(got->body.endsWith(R"("msg_type":"t","sender":""})")) << got->body.constData();
}

TEST_F(LinkOnBroker, RepliesReachTheResultHandler)
{
    struct row
    {
        const char* behaviour;
        QJsonObject reply; // script entry of the fake
        QJsonDocument expected;
    };
    const std::vector<row> rows = {
        { "braced id", { { "data", QJsonObject { { "ok", 1 } } }, { "cmd_id_form", "braced" } },
            QJsonDocument(QJsonObject { { "ok", 1 } }) },
        { "upper-case id matched",
            { { "data", QJsonObject { { "ok", 2 } } }, { "cmd_id_form", "upper" } },
            QJsonDocument(QJsonObject { { "ok", 2 } }) },
        { "id without braces matched",
            { { "data", QJsonObject { { "ok", 3 } } }, { "cmd_id_form", "unbraced" } },
            QJsonDocument(QJsonObject { { "ok", 3 } }) },
        { "array data as array document", { { "data", QJsonArray { 1, 2 } } },
            QJsonDocument(QJsonArray { 1, 2 }) },
        { "string data as empty document", { { "data", "text" } }, QJsonDocument() },
        { "absent data as empty document",
            { { "body", R"({"cmd_id":"{{cmd_id}}","msg_type":"response"})" } }, QJsonDocument() },
    };
    QJsonObject script;
    for (size_t i = 0; i < rows.size(); ++i)
        script.insert(QString("t%1").arg(i), QJsonArray { rows[i].reply });
    ASSERT_TRUE(start_fake(script));
    ASSERT_TRUE(make_link());
    for (size_t i = 0; i < rows.size(); ++i) {
        std::vector<QJsonDocument> replies;
        link->send_cmd(
            QString("t%1").arg(i), {}, "svc",
            [&](QJsonDocument d) {
                replies.push_back(d);
                return true;
            },
            [](QString) {});
        ASSERT_TRUE(wait_until([&] { return !replies.empty(); })) << rows[i].behaviour;
        EXPECT_EQ(replies[0], rows[i].expected) << rows[i].behaviour;
        EXPECT_EQ(replies[0].isNull(), rows[i].expected.isNull()) << rows[i].behaviour;
    }
    const QRegularExpression executed("Rabbit executed :" + id_pattern + " \\d+ ms");
    EXPECT_EQ(count_matches(executed, logs.text()), int(rows.size()));
}

TEST_F(LinkOnBroker, FanOutCompletesOnTheHandlersWordAndDropsLaterReplies)
{
    QJsonObject script = ping_script;
    script.insert("fan",
        QJsonArray { QJsonObject { { "data", QJsonObject { { "i", 1 } } } },
            QJsonObject { { "data", QJsonObject { { "i", 2 } } } },
            QJsonObject { { "data", QJsonObject { { "i", 3 } } } } });
    ASSERT_TRUE(start_fake(script));
    ASSERT_TRUE(make_link());
    std::vector<int> seen;
    int errors = 0;
    link->send_cmd(
        "fan", {}, "svc",
        [&](QJsonDocument d) {
            seen.push_back(d.object().value("i").toInt());
            return seen.size() == 2;
        },
        [&](QString) { ++errors; });
    ASSERT_TRUE(fake->wait_for_lines("SENT ", 3));
    // The fake published the third reply before this one, on the same channel.
    ASSERT_TRUE(round_trip());
    EXPECT_EQ(seen, (std::vector<int> { 1, 2 }));
    EXPECT_EQ(errors, 0);
    EXPECT_EQ(logs.count("Rabbit executed :"), 2) << "the fan-out command and the ping";
}

TEST_F(LinkOnBroker, TimeOutEndsTheCommandOnceAndLateRepliesAreDropped)
{
    QJsonObject script = ping_script;
    script.insert(
        "slow", QJsonArray { QJsonObject { { "data", QJsonObject {} }, { "delay_ms", 1500 } } });
    ASSERT_TRUE(start_fake(script));
    ASSERT_TRUE(make_link());
    int results = 0;
    QStringList errors;
    {
        short_command_timeout quick(300);
        link->send_cmd(
            "slow", {}, "svc", [&](QJsonDocument) { return ++results > 0; },
            [&](QString e) { errors << e; });
    }
    ASSERT_TRUE(wait_until([&] { return !errors.isEmpty(); }));
    EXPECT_EQ(errors, QStringList { "rabbit command execution timeout" });
    EXPECT_TRUE(QRegularExpression("Timeout :" + id_pattern).match(logs.text()).hasMatch());
    ASSERT_TRUE(fake->wait_for_lines("SENT ", 1));
    ASSERT_TRUE(round_trip());
    EXPECT_EQ(results, 0);
    EXPECT_EQ(errors.size(), 1);
}

// The caller learns of the failure through its error handler at once, not at the time-out;
// the reply goes to the dead-letter queue, as any message the link cannot take does.
TEST_F(LinkOnBroker, ThrowingResultHandlerFailsItsCommandAndItsReplyIsRejected)
{
    struct row
    {
        const char* behaviour;
        std::function<void()> fail;
        QString error;
    };
    const row rows[] = {
        { "standard exception: its text", [] { throw std::runtime_error("merge broke"); },
            "merge broke" },
        { "anything else thrown", [] { throw 42; }, "reply processing failed" },
    };
    ASSERT_TRUE(make_link());
    for (const row& r : rows) {
        int results = 0;
        QStringList errors;
        {
            short_command_timeout quick(500);
            link->send_cmd(
                "boom", {}, "peer.key",
                [&](QJsonDocument) {
                    ++results;
                    r.fail();
                    return true;
                },
                [&](QString e) { errors << e; });
        }
        const auto sent = probe.wait_get(peer);
        ASSERT_TRUE(sent) << r.behaviour;
        const QByteArray reply = R"({"cmd_id":")"
            + QJsonDocument::fromJson(sent->body)["cmd_id"].toString().toUtf8()
            + R"(","data":{"i":1},"msg_type":"response"})";
        ASSERT_TRUE(probe.publish(exchange, sender, reply));
        const auto rejected = probe.wait_get(dead);
        ASSERT_TRUE(rejected) << r.behaviour;
        EXPECT_EQ(rejected->body, reply) << r.behaviour;
        EXPECT_EQ(errors, QStringList { r.error }) << r.behaviour;
        // Released: a second reply finds no command and is acked, and the time-out passes by.
        ASSERT_TRUE(probe.publish(exchange, sender, reply));
        wait_until([] { return false; }, 700);
        EXPECT_EQ(results, 1) << r.behaviour;
        EXPECT_EQ(errors.size(), 1) << r.behaviour;
        EXPECT_FALSE(probe.get(dead)) << r.behaviour;
    }
    EXPECT_EQ(logs.count("Timeout :"), 0);
    EXPECT_EQ(logs.count("Rabbit executed :"), 0);
}

// The time-outs share one timer and a list from which completed commands are cleared as they
// pile up: a command in flight meanwhile must still time out, once.
TEST_F(LinkOnBroker, TimeOutComesThroughManyCompletedCommands)
{
    QJsonObject script = ping_script;
    script.insert("slow", QJsonArray {});
    ASSERT_TRUE(start_fake(script));
    ASSERT_TRUE(make_link());
    QStringList errors;
    {
        short_command_timeout quick(3000);
        link->send_cmd(
            "slow", {}, "svc", [](QJsonDocument) { return true; }, [&](QString e) { errors << e; });
    }
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(round_trip()) << "round trip " << i;
    ASSERT_TRUE(wait_until([&] { return !errors.isEmpty(); }, 10000));
    EXPECT_EQ(errors, QStringList { "rabbit command execution timeout" });
    EXPECT_EQ(logs.count("Rabbit executed :"), 200);
}

TEST_F(LinkOnBroker, IncomingCommandsAreExecutedAndAnswered)
{
    ASSERT_TRUE(make_link(echo_factory));
    struct row
    {
        const char* behaviour;
        QString id;
        QJsonValue data;
        QString answered_id;
        QJsonValue echoed;
    };
    const row rows[] = {
        { "braced lower-case id kept", "{0a1b2c3d-0000-4000-8000-00000000abcd}",
            QJsonObject { { "k", 1 } }, "{0a1b2c3d-0000-4000-8000-00000000abcd}",
            QJsonObject { { "k", 1 } } },
        { "upper-case id without braces answered braced and lower-case",
            "0A1B2C3D-0000-4000-8000-00000000ABCD", QJsonArray { 1 },
            "{0a1b2c3d-0000-4000-8000-00000000abcd}", QJsonArray { 1 } },
        { "id that is no id answered with the null id", "garbage", QJsonValue("s"),
            "{00000000-0000-0000-0000-000000000000}", QJsonValue() },
    };
    for (const row& r : rows) {
        probe.publish(exchange, sender, command("echo", r.id, r.data));
        const auto got = probe.wait_get(peer);
        ASSERT_TRUE(got) << r.behaviour;
        const QJsonObject data { { "data", r.echoed }, { "sender", "peer.key" },
            { "type", "echo" } };
        const QJsonObject expected { { "cmd_id", r.answered_id }, { "data", data },
            { "msg_type", "response" } };
        EXPECT_EQ(got->body, QJsonDocument(expected).toJson(QJsonDocument::Compact)) << r.behaviour;
    }
    EXPECT_FALSE(probe.get(dead)) << "answered commands are acknowledged, not rejected";
}

TEST_F(LinkOnBroker, PushedCommandIsAnsweredToItsSender)
{
    ASSERT_TRUE(make_link(echo_factory));
    QFile body(dir.filePath("push.json"));
    body.open(QIODevice::WriteOnly);
    body.write(R"([{"api_key":"k","modem_ids":[5,7]}])");
    body.close();
    fake_backend_process pusher({ "--url", test_services::amqp_url(), "--vhost", "/api",
        "--exchange", exchange, "--queue", unique_name("pusher"), "--bind", "pusher.key", "--push",
        sender, "--push-body", body.fileName(), "--push-type", "echo" });
    ASSERT_TRUE(pusher.ready());
    EXPECT_EQ(pusher.wait_exit(), 0);
    const QList<QByteArray> answers = pusher.lines("ANSWER ");
    ASSERT_EQ(answers.size(), 1);
    const QJsonObject answer = QJsonDocument::fromJson(answers[0]).object();
    EXPECT_TRUE(QRegularExpression("^" + id_pattern + "$")
                    .match(answer.value("cmd_id").toString())
                    .hasMatch());
    EXPECT_EQ(answer.value("data").toObject().value("data").toArray().size(), 1);
    EXPECT_FALSE(answer.contains("sender"));
}

TEST_F(LinkOnBroker, MessagesThatCannotBeServedAreRejectedWithoutRequeue)
{
    struct row
    {
        const char* behaviour;
        bool main_link;
        QByteArray body;
    };
    const std::vector<row> rows = {
        { "body that is not JSON", false, "not json" },
        { "body that is a JSON array", false, R"([{"msg_type":"echo"}])" },
        { "empty body", false, "" },
        { "type the factory does not know", false, command("nope", "{}", QJsonObject {}) },
        { "incoming command on the main link", true, command("echo", "{}", QJsonObject {}) },
    };
    ASSERT_TRUE(make_link(echo_factory));
    bool main_link = false;
    for (const row& r : rows) {
        if (r.main_link != main_link) {
            link.reset();
            link_queue = unique_name("api.link");
            ASSERT_TRUE(make_link({}, true, 2));
            main_link = true;
        }
        probe.publish(exchange, sender, r.body);
        const auto rejected = probe.wait_get(dead);
        ASSERT_TRUE(rejected) << r.behaviour;
        EXPECT_EQ(rejected->body, r.body) << r.behaviour;
    }
    // An answer would have left before the rejection; a later message on the same
    // connection arrives behind it.
    link->send_cmd_forward("marker", {}, "peer.key");
    const auto first = probe.wait_get(peer);
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->body.contains("\"msg_type\":\"marker\"")) << first->body.constData();
}

TEST_F(LinkOnBroker, LinkComesBackAfterItsConnectionsAreClosed)
{
    short_reconnect fast;
    QJsonObject script = ping_script;
    script.insert(
        "slow", QJsonArray { QJsonObject { { "data", QJsonObject {} }, { "delay_ms", 1000 } } });
    ASSERT_TRUE(start_fake(script));
    ASSERT_TRUE(make_link());
    ASSERT_TRUE(round_trip());
    // Replies in flight while the connections go; whether they survive is the broker's
    // business (the link's queue is auto-delete), what counts is the link afterwards.
    for (int i = 0; i < 3; ++i)
        link->send_cmd(
            "slow", {}, "svc", [](QJsonDocument) { return true; }, [](QString) {});
    ASSERT_TRUE(fake->wait_for_lines("GOT ", 4));
    ASSERT_GE(close_connections("gorvex rabbit_receiver " + link_queue), 1);
    ASSERT_GE(close_connections("gorvex rabbit_publisher " + exchange), 1);
    EXPECT_TRUE(logs.wait_for(" Rabbit_man_ul: Disconnected"));
    EXPECT_TRUE(logs.wait_for(" rabbit_publisher_impl: Disconnected"));
    ASSERT_TRUE(logs.wait_for(" Rabbit_man_ul: Queue bound", 2));
    ASSERT_TRUE(logs.wait_for("rabbit_publisher_impl: Connected", 2));
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(round_trip()) << "command " << i << " after the reconnection";
}

// A link to a broker port where nothing listens.
rabbit_api_config unreachable_link()
{
    rabbit_api_config c;
    c.url = unreachable_url();
    c.queue = "q";
    c.vhost = "/api";
    c.bindings = { { "x", "gw" } };
    c.queue_options = QUEUE_AUTO_DELETE;
    c.prefetch = 10;
    c.exchange = "x";
    return c;
}

TEST(LinkWithoutBroker, CommandTimesOutWhileTheLoopKeepsRunning)
{
    log_capture logs;
    rabbit_api_man link(logs.log(), unreachable_link(), {}, nullptr);
    QTimer ticker;
    int ticks = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    QStringList errors;
    {
        short_command_timeout quick(300);
        link.send_cmd(
            "t", {}, "svc", [](QJsonDocument) { return true; }, [&](QString e) { errors << e; });
    }
    ASSERT_TRUE(wait_until(
        [&] { return !errors.isEmpty() && logs.count("Try to publish but not connected") == 1; }));
    EXPECT_EQ(errors, QStringList { "rabbit command execution timeout" });
    EXPECT_GT(ticks, 0);
    EXPECT_EQ(link.config().queue, "q");
}

// Commands sent together while the broker is away each wait for it alongside the others, not
// one wait after another (six in a row would take six waits).
TEST(LinkWithoutBroker, QueuedCommandsWaitForTheBrokerAlongside)
{
    log_capture logs;
    rabbit_api_man link(logs.log(), unreachable_link(), {}, nullptr);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 6; ++i)
        link.send_cmd(
            "t", {}, "svc", [](QJsonDocument) { return true; }, [](QString) {});
    ASSERT_TRUE(wait_until([&] { return logs.count("Try to publish but not connected") == 6; }));
    EXPECT_LT(clock.elapsed(), 3 * rabbit_publisher_impl::connection_wait_ms);
}

// Commands time out in the order of their deadlines, whatever order they were sent in, each
// once; one sent from a time-out handler takes its place among them.
TEST(LinkWithoutBroker, CommandsTimeOutInDeadlineOrder)
{
    log_capture logs;
    rabbit_api_man link(logs.log(), unreachable_link(), {}, nullptr);
    QStringList order;
    const auto send = [&](const QString& name, int timeout_ms, std::function<void()> then = {}) {
        short_command_timeout quick(timeout_ms);
        link.send_cmd(
            "t", {}, "svc", [](QJsonDocument) { return true; },
            [&order, name, then](QString e) {
                order << name + ": " + e;
                if (then)
                    then();
            });
    };
    send("a", 900);
    send("b", 100, [&] { send("e", 200); });
    send("c", 600);
    send("d", 100);
    ASSERT_TRUE(wait_until([&] { return order.size() >= 5; }, 10000));
    const QString t = ": rabbit command execution timeout";
    EXPECT_EQ(order, QStringList({ "b" + t, "d" + t, "e" + t, "c" + t, "a" + t }));
    wait_until([] { return false; }, 300);
    EXPECT_EQ(order.size(), 5) << "none times out twice";
}

// A command the link could never take is refused before it is pending, whatever the state of the
// connection; one of exactly the bound is taken and meets the fate of any other.
TEST(LinkWithoutBroker, CommandOverTheBoundIsRefusedAtOnceAndOneAtItIsTaken)
{
    log_capture logs;
    rabbit_api_man link(logs.log(), unreachable_link(), {}, nullptr);
    const qint64 bound = qint64(rabbit_publisher_impl::max_message_bytes);
    // The message's bytes beside its data, which is one ready text {"p":"xx..."}.
    const qint64 envelope
        = command_message(QUuid::createUuid(), command_data::ready_object("{}"), "t", "gw", 0)
              .size()
        - 2;
    const auto data_of = [&](qint64 message_bytes) {
        return command_data::ready_object(
            "{\"p\":\"" + QByteArray(int(message_bytes - envelope - 8), 'x') + "\"}");
    };
    struct row
    {
        const char* behaviour;
        qint64 over; // bytes past the bound
        bool forward;
    };
    const row rows[] = {
        { "a command one byte over", 1, false },
        { "a fire-and-forget command one byte over", 1, true },
        { "a command of exactly the bound", 0, false },
    };
    short_command_timeout quick(300);
    QStringList errors;
    int results = 0;
    for (const row& r : rows) {
        qint64 refused = -1;
        try {
            if (r.forward)
                link.send_cmd_forward("t", data_of(bound + r.over), "svc");
            else
                link.send_cmd(
                    "t", data_of(bound + r.over), "svc",
                    [&](QJsonDocument) { return ++results > 0; },
                    [&, r](QString e) { errors << QString(r.behaviour) + ": " + e; });
        } catch (const command_too_large& e) {
            refused = e.size();
            EXPECT_EQ(e.limit(), bound) << r.behaviour;
        }
        EXPECT_EQ(refused, r.over ? bound + r.over : -1) << r.behaviour;
    }
    // Only the one taken waits for the broker and ends at its time-out.
    ASSERT_TRUE(wait_until([&] { return !errors.isEmpty(); }));
    wait_until([] { return false; }, 1500);
    EXPECT_EQ(
        errors, QStringList { "a command of exactly the bound: rabbit command execution timeout" });
    EXPECT_EQ(logs.count("Try to publish but not connected"), 1);
    EXPECT_EQ(results, 0);
}

} // namespace
