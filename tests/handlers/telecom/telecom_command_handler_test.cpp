#include "routes/collector_set.h"
#include "routes/road_fixture.h"
#include "routes/server_set.h"
#include "routes/test_token.h"

#include <QJsonArray>
#include <QMap>
#include <cstring>
#include <iterator>

// The telecom routes and "/statistic" on the in-process road with a scripted AMQP link.

namespace {

class telecom_handler_test : public road_fixture
{
protected:
    void SetUp() override
    {
        conf.CHECK_TOKEN_VALID = false;
        conf.CHECK_TOKEN_EXP_TIME = false;
        conf.SIGN_KEY = "sign";
        start<server_set>();
    }
    // A token of "u@x" with the API key "t" and the given role.
    static QByteArray token_of(const QString& role)
    {
        return "Bearer "
            + make_token(QJsonObject { { "ver", "2.0" }, { "email", "u@x" },
                             { "apiKeys", QJsonArray { "t" } },
                             { "claims",
                                 QJsonObject { { "telecom", QJsonObject { { "admin", "" } } },
                                     { "b", QJsonObject { { role, "" } } } } } },
                "sign");
    }
    const QByteArray token = token_of("user");
};

TEST_F(telecom_handler_test, device_pages_are_shared_out_between_the_instances)
{
    struct row
    {
        const char* behaviour;
        int instances;
        QByteArray query;
        int status;
        QJsonObject data; // the command's, but for "api_key"; or the refusal
    };
    const row rows[] = {
        { "halved for two", 2, "limit=64&offset=32", 200, { { "limit", 32 }, { "offset", 16 } } },
        { "truncated toward zero for three", 3, "limit=64&offset=32", 200,
            { { "limit", 21 }, { "offset", 10 } } },
        { "a negative multiple passes", 2, "limit=-32", 200, { { "limit", -16 } } },
        { "an offset without a limit is untouched", 2, "offset=33", 200, { { "offset", 33 } } },
        { "a misread instance count divides by one", 0, "limit=64&offset=32", 200,
            { { "limit", 64 }, { "offset", 32 } } },
        { "limit tested first", 2, "limit=33&offset=33", 406,
            { { "What", "limit should be divisible by 32" } } },
        { "then offset", 2, "limit=64&offset=33", 406,
            { { "What", "offset should be divisible by 32" } } },
        { "a negative limit off the multiples", 2, "limit=-33", 406,
            { { "What", "limit should be divisible by 32" } } },
    };
    for (const row& r : rows) {
        conf.SERSOFT_INST_COUNT = r.instances;
        api.commands.clear();
        loop_client client(port());
        client.send_request("GET", "/telecom/api/device?" + r.query);
        raw_response answer;
        if (r.status != 200) {
            client.read(answer);
            EXPECT_EQ(answer.status, r.status) << r.behaviour;
            EXPECT_EQ(QJsonDocument::fromJson(answer.body).object(), r.data) << r.behaviour;
            EXPECT_TRUE(api.commands.empty()) << r.behaviour;
            continue;
        }
        ASSERT_TRUE(wait_until([this] { return !api.commands.empty(); })) << r.behaviour;
        QJsonObject data = api.commands[0].data;
        // No key of the caller's own: the token's (none here) are sent.
        EXPECT_EQ(data.take("api_key"), QJsonValue(QJsonArray {})) << r.behaviour;
        EXPECT_EQ(data, r.data) << r.behaviour;
    }
    // The "_uspd" paths stand before the paths they begin with, in the server set only.
    EXPECT_EQ(server_set::match_handler("/telecom/api/send_dl_uspd").handler_path,
        "/telecom/api/send_dl_uspd");
    EXPECT_EQ(collector_set::match_handler("/telecom/api/send_dl_uspd").handler_path,
        "/telecom/api/send_dl");
}

// Every telecom route driven as a whole: the command and routing key it sends, its GET and POST
// parsers (each key of its list typed as listed), its API-key rule, and the reply of four
// instances that completes it.
TEST_F(telecom_handler_test, each_route_is_wired_to_its_policies_parsers_and_reply_rules)
{
    // Key lists, "A" array or "I" integer; keys known only by their CRC-32 are given by a text
    // of that sum (k151oz2y: 3502988656, and so on).
    const char* const publishall = "A api_key A k151oz2y A bs_ids";
    const char* const time_sync_unlock = "I lock A api_key";
    const char* const messages = "A k2811WDz A bs_ids A api_key A devices I timefrom I timeto "
                                 "I time_saved I limit";
    const char* const stinfo = "A bs_ids A api_key A k151oz2y I snr I k123VfsX I k86ypZU "
                               "I k324pAiD I k27Y7F6 I k16LTqq I k10263td I k133IskM";
    const char* const ststats = "A bs_ids I timefrom I timeto I limit I period A api_key";
    const char* const sthistory = "A bs_ids I timefrom I timeto I limit A api_key";
    const char* const bs = "A bs_ids A api_key I k394hQ4j I limit I offset I dl_status "
                           "I timezone_offset I k193pGb I k51ZBaa I k163PqLC I k212XiLz "
                           "I k281cGQM I k281cGQN I k1254DUY I k1254DUZ I k49Porg I k49Pord "
                           "I k5649xKo I k5649xKl";
    const char* const device = "A k151oz2y A api_key I k2T3GU I clear I freq_plan I limit "
                               "I offset I k322wHct I k594BAik I k422wxUJ";
    const char* const deletemessage
        = "I type A api_key I station_id I modem_id I time_detected I iter";
    const char* const deletedevice = "A k151oz2y A api_key";
    const char* const deletestation = "A bs_ids A api_key";
    const char* const send_dl = "I modem_id I f_ack I f_system I station_id I k691xqQy "
                                "I frequency I k61wjIn I dl_phy";
    const char* const dl_messages
        = "A bs_ids A api_key A devices A k400YhCD I timefrom I timeto I limit";
    const char* const devsnr = "A k151oz2y A api_key A k340qADo";
    // The reply rules, by what they answer to {}, [a,b,c], {"a":1}, [] (N = 4): F the first
    // reply, a the first non-empty array, o the first non-empty object, W the fourth, L the
    // objects listed, D the arrays joined, M newest first by time_saved, m cut to a text limit,
    // P newest first by posted_time, S the station merge, T the statistics merge.
    const QByteArray a = R"({"posted_time":2,"time_detected":2,"time_saved":1})";
    const QByteArray b = R"({"posted_time":1,"time_detected":3,"time_saved":3})";
    const QByteArray c = R"({"posted_time":3,"time_detected":1,"time_saved":2})";
    const QByteArray replies[] = { "{}", "[" + a + "," + b + "," + c + "]", R"({"a":1})", "[]" };
    const QMap<char, QPair<int, QByteArray>> answers {
        { 'F', { 1, "{}" } },
        { 'a', { 2, replies[1] } },
        { 'o', { 3, R"({"a":1})" } },
        { 'W', { 4, "[]" } },
        { 'L', { 4, R"([{},{},{"a":1},{}])" } },
        { 'D', { 4, replies[1] } },
        { 'M', { 4, "[" + b + "," + c + "," + a + "]" } },
        { 'm', { 4, "[]" } },
        { 'P', { 4, "[" + c + "," + a + "," + b + "]" } },
        { 'S', { 4, QJsonDocument(merge_station_stats({})).toJson(QJsonDocument::Compact) } },
        { 'T', { 4, QJsonDocument(telecom_stats().toJson()).toJson(QJsonDocument::Compact) } },
    };
    struct row
    {
        const char* tail;
        const char* policy; // of GET, as the dispatch line names it
        const char* get_command;
        const char* post_command;
        const char* get_keys; // nullptr: the general GET parser
        const char* post_array; // the array-body member; nullptr: the general POST parser
        char get_rule, post_rule;
        char api_keys; // n none, k the caller's own on GET, a appended
        bool uspd;
    };
    const row rows[] = {
        { "send_dl_uspd", "SendDownlinkHandlerTelecomUSPD", "send_dl", "send_dl", send_dl, nullptr,
            'F', 'F', 'a', true },
        { "dl_message_status_uspd", "DlMessageStatusApiHandlerUSPD", "dl_message_status",
            "dl_message_status", nullptr, nullptr, 'F', 'F', 'a', true },
        { "stats", "StatApiHandler", "stats", "stats", nullptr, nullptr, 'T', 'T', 'n', false },
        { "publishall", "PublishAllApiHandler", "publishall", "publishall", publishall, nullptr,
            'L', 'L', 'a', false },
        { "time_sync_unlock", "TimeSincUnLockApiHandler", "time_sync_unlock", "time_sync_unlock",
            time_sync_unlock, nullptr, 'L', 'L', 'a', false },
        { "messages", "MessagesApiHandler", "messages", "messages", messages, nullptr, 'M', 'm',
            'a', false },
        { "stinfo", "BsStatsApiHandler", "stinfo", "stinfo", stinfo, nullptr, 'S', 'S', 'k',
            false },
        { "ststats", "StationStatsApiHandler", "ststats", "ststats", ststats, nullptr, 'a', 'a',
            'a', false },
        { "sthistory", "StationHistoryApiHandler", "sthistory", "sthistory", sthistory, nullptr,
            'a', 'a', 'a', false },
        { "bs", "BsReadApiHandler", "bs", "bs_write", bs, "bs_array", 'o', 'W', 'k', false },
        { "device", "DeviceReadApiHandler", "device", "device_write", device, "device_array", 'D',
            'W', 'k', false },
        { "deletemessage", "DeleteMessageApiHandler", "deletemessage", "deletemessage",
            deletemessage, nullptr, 'W', 'W', 'a', false },
        { "deletedevice", "DeleteDeviceApiHandler", "deletedevice", "deletedevice", deletedevice,
            nullptr, 'W', 'W', 'a', false },
        { "deletestation", "DeleteStationApiHandler", "deletestation", "deletestation",
            deletestation, nullptr, 'W', 'W', 'a', false },
        { "send_dl", "SendDownlinkHandlerTelecom", "send_dl", "send_dl", send_dl, nullptr, 'o', 'o',
            'a', false },
        { "dl_messages", "DlMessagesApiHandler", "dl_messages", "dl_messages", dl_messages, nullptr,
            'P', 'm', 'a', false },
        { "dl_message_status", "DlMessageStatusApiHandler", "dl_message_status",
            "dl_message_status", nullptr, nullptr, 'o', 'o', 'a', false },
        { "devsnr", "DevSNRApiHandler", "devsnr", "devsnr", devsnr, nullptr, 'o', 'o', 'a', false },
        { "clients", "ClientsApiHandler", "clients", "clients", nullptr, "clients_devices", 'W',
            'W', 'a', false },
    };
    // One query naming every key of every list, each with the value 96: an integer key reads
    // 96, an array key ["96"], any other key "96".
    QMap<QString, QJsonValue> typed_by_list[std::size(rows)];
    QMap<QString, QJsonValue> untyped;
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const QStringList words = QString(rows[i].get_keys).split(' ');
        for (int w = 0; w + 1 < words.size(); w += 2) {
            typed_by_list[i][words[w + 1]]
                = words[w] == "I" ? QJsonValue(96) : QJsonValue(QJsonArray { "96" });
            untyped[words[w + 1]] = "96";
        }
    }
    const QByteArray query = "?" + QStringList(untyped.keys()).join("=96&").toUtf8() + "=96";
    conf.SERSOFT_INST_COUNT = 4;
    conf.R_SERSOFT_ROUTE_KEY = "s";
    conf.R_SERSOFT_USPD_ROUTE_KEY = "u";
    conf.ADMIN_API_KEY = "adm";
    for (bool check_api_key : { true, false }) {
        conf.CHECK_TOKEN_API_KEY = check_api_key;
        for (std::size_t i = 0; i < std::size(rows); ++i) {
            const row& r = rows[i];
            for (const bool get : { true, false }) {
                const std::string what
                    = QString("%1 %2 %3")
                          .arg(r.tail, get ? "GET" : "POST", check_api_key ? "on" : "off")
                          .toStdString();
                QJsonObject expected;
                for (auto it = untyped.cbegin(); it != untyped.cend(); ++it)
                    expected[it.key()]
                        = get ? typed_by_list[i].value(it.key(), it.value()) : it.value();
                if (!get)
                    expected[r.post_array ? r.post_array : "b"]
                        = r.post_array ? QJsonValue(QJsonArray {}) : QJsonValue(1);
                if (get && r.get_command == QString("device"))
                    expected["limit"] = expected["offset"] = 24;
                const QString added = check_api_key || r.uspd ? "t" : "adm";
                if (r.api_keys != 'n' && !(get && r.api_keys == 'k' && check_api_key && !r.uspd))
                    expected["api_key"] = expected["api_key"].isArray() ? QJsonArray { "96", added }
                                                                        : QJsonArray { added };

                loop_client client(port());
                client.send_request(get ? "GET" : "POST",
                    QByteArray("/telecom/api/") + r.tail + query, { { "Authorization", token } },
                    get ? QByteArray() : R"({"b":1})");
                ASSERT_TRUE(wait_until([&] { return !api.commands.empty(); })) << what;
                const fake_command_client::command command = api.commands.back();
                api.commands.clear();
                EXPECT_EQ(command.type, get ? r.get_command : r.post_command) << what;
                EXPECT_EQ(command.routing_key, r.uspd ? "u" : "s") << what;
                EXPECT_EQ(QJsonDocument(command.data).toJson(QJsonDocument::Compact),
                    QJsonDocument(expected).toJson(QJsonDocument::Compact))
                    << what;
                const QByteArray invoked = QByteArray("Invoke method: ")
                    + (r.uspd ? "17CmdApiHandlerUSPDI" : "13CmdApiHandlerI")
                    + QByteArray::number(int(strlen(r.policy))) + r.policy;
                EXPECT_TRUE(log_text().contains(invoked)) << what;

                const QPair<int, QByteArray> answer = answers.value(get ? r.get_rule : r.post_rule);
                int completed = 0;
                bool done = false;
                while (!done && completed < 4)
                    done = command.on_reply(QJsonDocument::fromJson(replies[completed++]));
                EXPECT_EQ(done ? completed : 0, answer.first) << what;
                raw_response http;
                if (done && client.read(http)) {
                    EXPECT_EQ(http.body, answer.second) << what;
                }
            }
        }
    }
}

// "/statistic": the route's rights, methods and parameter keys.
TEST_F(telecom_handler_test, statistic_serves_administrators_or_everyone_when_keys_are_unchecked)
{
    struct row
    {
        const char* role;
        bool check_api_key;
        const char* method;
        const char* target;
        int status;
        const char* body; // the start of the answer
    };
    const row rows[] = {
        { "admin", true, "GET", "/statistic?user=zz", 200, "{}" },
        { "user", true, "GET", "/statistic?user=zz", 403,
            R"({"What":"Not enough rights. Available only for admin."})" },
        { "Admin", true, "GET", "/statistic?user=zz", 403, R"({"What":"Not enough rights.)" },
        { "user", false, "GET", "/statistic?user=zz", 200, "{}" },
        { "admin", true, "GET", "/statistic?user_list=last_url", 200,
            R"({"u@x":"/statistic?user_list=last_url"})" },
        { "admin", true, "GET", "/statistic?user=u@x&history=true", 200,
            R"({"u@x":{"api_load_percent":0,"banned_to":"","count_request":)" },
        { "admin", true, "GET", "/statistic?banned_to=0&user=zz", 200, R"({"status":"ok"})" },
        { "admin", true, "GET", "/statistic?uptime=&user_list=count", 200, R"({"update":")" },
        { "admin", true, "POST", "/statistic", 404, R"({"What":""})" },
    };
    for (const row& r : rows) {
        conf.CHECK_TOKEN_API_KEY = r.check_api_key;
        const raw_response answer
            = request(r.method, r.target, { { "Authorization", token_of(r.role) } });
        EXPECT_EQ(answer.status, r.status) << r.target;
        EXPECT_TRUE(answer.body.startsWith(r.body)) << r.target << "\n" << answer.body.constData();
    }
    EXPECT_TRUE(request(
        "GET", "/statistic?user=u@x&history=true", { { "Authorization", token_of("admin") } })
                    .body.contains(R"("history":[{)"));
}

} // namespace
