#include "routes/collector_set.h"
#include "routes/road_fixture.h"
#include "routes/test_token.h"

#include <QJsonArray>

// The "/api/" modem handlers through the collector's real road, with a scripted AMQP link and an
// access store in which the key "k1" owns the modems 1, 12, 2 and 5.

namespace {

class owned_store : public null_access
{
public:
    void get_client_devices(QStringList keys, QStringList& out) override
    {
        for (const QString& key : keys)
            out += owned.value(key);
    }
    QString first_foreign_device(QStringList ids, QStringList keys) override
    {
        for (const QString& id : ids) {
            if (!owned_by(id, keys))
                return id;
        }
        return QString();
    }
    QMap<QString, bool> clients_device_access(QStringList ids, QStringList keys) override
    {
        QMap<QString, bool> access;
        for (const QString& id : ids)
            access.insert(id, owned_by(id, keys));
        return access;
    }
    bool owned_by(const QString& id, const QStringList& keys) const
    {
        return std::any_of(keys.begin(), keys.end(),
            [&](const QString& key) { return owned.value(key).contains(id); });
    }

    QMap<QString, QStringList> owned { { "k1", { "5", "1", "12", "2" } } };
};

enum caller { admin, user, keyless };

class modem_api_test : public road_fixture
{
protected:
    void SetUp() override
    {
        conf.CHECK_TOKEN_VALID = false;
        conf.CHECK_TOKEN_EXP_TIME = false;
        conf.CHECK_TOKEN_CLAIMS = false;
        conf.SIGN_KEY = "s";
        conf.R_REMOTE_ROUTE_KEY = "key.remote";
        store = &owned;
        start<collector_set>();
    }

    QList<QPair<QByteArray, QByteArray>> token_of(caller who) const
    {
        QJsonObject payload { { "ver", "2.0" }, { "email", "u@x" },
            { "claims",
                QJsonObject {
                    { "b", QJsonObject { { who == admin ? "admin" : "user", "" } } } } } };
        if (who != keyless)
            payload.insert("apiKeys", QJsonArray { "k1" });
        return { { "Authorization", "Bearer " + make_token(payload, conf.SIGN_KEY.toUtf8()) } };
    }

    owned_store owned;
};

QJsonObject object_of(const char* text)
{
    return QJsonDocument::fromJson(text).object();
}

TEST_F(modem_api_test, requests_become_the_command_and_data_of_their_class)
{
    struct row
    {
        caller who;
        QByteArray method, target, body;
        QString command;
        const char* data;
        QString routing_key = "key.remote";
    };
    const row rows[] = {
        { user, "GET", "/api/setting?modem_id=5&setting=a,,b", {}, "read_setting",
            R"({"modem_id":[5],"settings":["a","","b"]})" },
        { user, "POST", "/api/calib?modem_id=99", R"({"12":{"x":1}})", "write_calib",
            R"({"calibs":{"12":{"x":1}}})" },
        { user, "POST", "/api/setting", "not json", "write_setting", R"({"settings":{}})" },
        { admin, "GET", "/api/roll?modem_id=1,x,2&time_detected=True&extract=&from=7&to=z&tag=a",
            {}, "get_roll_extract", R"({"modem_id":[1,2],"from":7,"to":0,"tag":["a"]})" },
        { user, "GET", "/api/roll?modem_id=5&time_detected=true&limit=3", {}, "get_roll",
            R"({"modem_id":[5],"time_detected":true,"limit":3})" },
        { user, "GET", "/api/device?modem_id=7&modem_id=5", {}, "device", R"({"modem_id":[5]})" },
        { user, "GET",
            "/api/"
            "eav?modem_id=5&type=event&obis_code=1.8.0,2.8.0&first_and_last=yes&fill=p&step=60",
            {}, "get_eav_event",
            R"({"modem_id":[5],"obis_codes":["1.8.0","2.8.0"],"first_and_last":false,"fill":"p","step":60})" },
        { user, "GET", "/api/eav?modem_id=5", {}, "get_eav_extract", R"({"modem_id":[5]})" },
        { user, "GET", "/api/app_ids?hw_type=h&protocol=p&app_id=a", {}, "get_ids",
            R"({"hw_type":"h","protocol":"p"})" },
        { user, "GET", "/api/metadata?modem_id=5&hw_type=h&app_id=a", {}, "get_metadata",
            R"({"modem_id":[5],"app_id":"a"})" },
        { user, "GET", "/api/metadata?hw_type=h&protocol=p", {}, "get_metadata",
            R"({"hw_type":"h","protocol":"p"})" },
        { user, "GET", "/api/reparse?modem_id=5&request=true&from=1", {}, "reparse_modem",
            R"({"modem_id":[5],"from":1,"request":true})" },
        { user, "GET", "/api/custom?instance=svc&a=1&route_key=rk", {}, "custom_request",
            R"({"modem_id":[],"instance":"svc","type":"get","body":{},"query":{"a":"1"}})", "rk" },
        { user, "POST", "/api/custom?modem_id=5&Instance=z", "[1]", "custom_request",
            R"({"modem_id":[5],"instance":"","type":"post","body":{},"query":{"Instance":"z"}})" },
        { keyless, "GET", "/api/info?hw_type=1&route_key=", {}, "get_info", "{}", "" },
        { user, "GET", "/api/dl?db_id=7,,8&modem_id=99", {}, "status_dl_msg",
            R"({"db_id":["7","","8"]})" },
        { user, "GET", "/api/dl?modem_id=5&not_acked=TRUE&limit=x", {}, "get_dl_msg",
            R"({"modem_id":[5],"limit":0})" },
        { user, "POST", "/api/dl?modem_id=5,&timeout=30&f_ack=1&from=3", "[]", "send_dl_msg",
            R"({"api_key":["k1"],"data":{},"f_ack":1,"modem_id":[5],"timeout":30})" },
        { admin, "GET", "/api/dl_queue", {}, "dl_queue",
            R"({"admin":true,"limit":100,"mode":"normal","offset":0})" },
        { user, "GET", "/api/dl_queue?limit=50000&modem_id=5", {}, "dl_queue",
            R"({"5":{"action":"get"},"admin":false,"limit":10000,"mode":"normal","offset":0})" },
        { user, "GET", "/api/dl_queue?offset=1&limit=2", {}, "dl_queue",
            R"({"12":{"action":"get"},"2":{"action":"get"},"admin":false,"limit":2,"mode":"normal","offset":1})" },
        { user, "GET", "/api/dl_queue?mode=modem_list&offset=1&limit=5&modem_id=99", {}, "dl_queue",
            R"({"12":{"action":"get"},"admin":false,"limit":3,"mode":"modem_list","offset":1})" },
        { user, "GET", "/api/dl_queue?mode=modem_count", {}, "dl_queue",
            R"({"5":{"action":"get"},"admin":false,"limit":100,"mode":"modem_count","offset":0})" },
        { keyless, "GET", "/api/dl_queue?mode=modem_list", {}, "dl_queue",
            R"({"admin":false,"limit":1,"mode":"modem_list","offset":-1})" },
        { user, "POST", "/api/dl_queue", "{}", "dl_queue", "{}" },
        { user, "POST", "/api/dl_queue", R"({"all":{"modem_id":[5,1]}})", "dl_queue",
            R"({"all":{"modem_id":[5,1]}})" },
    };
    for (const row& r : rows) {
        const QString where = r.method + " " + r.target;
        const size_t before = api.commands.size();
        loop_client client(port());
        client.send_request(r.method, r.target, token_of(r.who), r.body);
        ASSERT_TRUE(wait_until([&] { return api.commands.size() > before; }))
            << where.toStdString();
        EXPECT_EQ(api.commands.back().type, r.command) << where.toStdString();
        EXPECT_EQ(api.commands.back().data, object_of(r.data)) << where.toStdString();
        EXPECT_EQ(api.commands.back().routing_key, r.routing_key) << where.toStdString();
    }
}

TEST_F(modem_api_test, refusals_and_ready_answers_send_nothing)
{
    struct row
    {
        caller who;
        QByteArray method, target, body;
        int status;
        QByteArray answer;
    };
    const QByteArray few = R"({"What":"Too few arguments"})";
    const QByteArray not_json = R"({"What":"Body is not JSON"})";
    auto foreign = [](const char* id) {
        return R"({"What":"Unavailable modem for provided token. Modem ID )" + QByteArray(id)
            + "\"}";
    };
    const row rows[] = {
        { user, "GET", "/api/calib", {}, 403, few },
        { user, "GET", "/api/app_ids?hw_type=h", {}, 403, few },
        { user, "GET", "/api/metadata?hw_type=h", {}, 403, few },
        { user, "GET", "/api/custom?a=1", {}, 403, few },
        { user, "GET", "/api/dl", {}, 403, few },
        { user, "GET", "/api/check_ids", {}, 403, few },
        { user, "GET", "/api/eav?modem_id=5&type=Event", {}, 403,
            R"({"What":"Please enter correct type parameter"})" },
        { user, "GET", "/api/eav?modem_id=9&type=Event", {}, 403, foreign("9") },
        { user, "GET", "/api/roll?modem_id=,5,9", {}, 403, foreign("9") },
        { user, "GET", "/api/dl?modem_id=1,,x,2", {}, 403, foreign("x") },
        { keyless, "GET", "/api/device?modem_id=,7,8", {}, 403, foreign("7") },
        { user, "POST", "/api/dl?modem_id=9", {}, 403, foreign("9") },
        { user, "POST", "/api/dl?modem_id=5", {}, 403, not_json },
        { user, "POST", "/api/setting", R"({"5":{},"9":{}})", 403, foreign("9") },
        { user, "POST", "/api/dl_queue", "x", 403, not_json },
        { user, "POST", "/api/dl_queue", R"({"all":1})", 403, foreign("all") },
        { user, "POST", "/api/dl_queue", R"({"all":{"modem_id":[5,"6"]}})", 403, foreign("0") },
        { user, "GET", "/api/dl_queue?limit=x", {}, 403,
            R"({"What":"No available modem for provided token."})" },
        { user, "PUT", "/api/custom", {}, 404, R"({"What":""})" },
        { user, "POST", "/api/roll?modem_id=5", {}, 404, R"({"What":""})" },
        { user, "PATCH", "/api/dl_queue", {}, 404, R"({"What":"method not found"})" },
        { admin, "GET", "/api/check_ids?modem_id=1,9,1", {}, 200, R"({"1":true,"9":true})" },
        { user, "GET", "/api/check_ids?modem_id=1,9,1", {}, 200, R"({"1":true,"9":false})" },
    };
    for (const row& r : rows) {
        const raw_response answer = request(r.method, r.target, token_of(r.who), r.body);
        EXPECT_EQ(answer.status, r.status) << r.method.constData() << " " << r.target.constData();
        EXPECT_EQ(answer.body, r.answer) << r.method.constData() << " " << r.target.constData();
    }
    conf.CHECK_TOKEN_API_KEY = false;
    EXPECT_EQ(request("GET", "/api/check_ids?modem_id=9", token_of(user)).body, R"({"9":true})");
    EXPECT_TRUE(api.commands.empty());
}

} // namespace
