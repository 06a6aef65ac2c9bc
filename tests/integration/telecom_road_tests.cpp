#include "server_road_fixture.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

// The telecom API and the statistics view end to end: the real gateway in the server set, the
// real broker, and the scripted back-end answering every command as three instances.

namespace {

QJsonObject object_of(const QByteArray& json)
{
    return QJsonDocument::fromJson(json).object();
}

QJsonArray replies(std::initializer_list<QJsonValue> data)
{
    QJsonArray list;
    for (const QJsonValue& d : data)
        list.append(QJsonObject { { "data", d } });
    return list;
}

// The data of the last recorded command of one type.
QJsonObject last_data(const QList<QByteArray>& messages, const QString& type)
{
    for (int i = messages.size() - 1; i >= 0; --i) {
        const QJsonObject message = object_of(messages[i]);
        if (message.value("msg_type").toString() == type)
            return message.value("data").toObject();
    }
    return {};
}

using telecom_road_test = server_road_test;

TEST_F(telecom_road_test, each_reply_rule_answers_from_three_instances)
{
    const QJsonObject stinfo_ids { { "BS_Total",
        QJsonObject { { "attached", QJsonObject { { "x_ids", QJsonArray { 3, 1 } } } } } } };
    const QJsonObject script {
        { "send_dl", replies({ QJsonObject {}, QJsonObject { { "id", 7 } }, QJsonObject {} }) },
        { "messages",
            replies({ QJsonArray { QJsonObject { { "time_detected", 1 } } }, QJsonObject {},
                QJsonArray { QJsonObject { { "time_detected", 3 } },
                    QJsonObject { { "time_detected", 2 } } } }) },
        { "stinfo", replies({ stinfo_ids, QJsonArray {}, stinfo_ids }) },
        { "stats",
            replies({ QJsonObject { { "ulMessLastHour", 1 }, { "TelecomVersion", "a" } },
                QJsonObject { { "ulMessLastHour", 2 } },
                QJsonObject { { "ulMessLastHour", 3 } } }) },
    };
    const QJsonObject uspd_script { { "send_dl",
        replies({ QJsonObject { { "first", true } }, QJsonObject { { "second", true } } }) } };
    const auto backend = start_backend("t", { sersoft_key }, script);
    const auto uspd = start_backend("u", { uspd_key }, uspd_script);
    ASSERT_TRUE(backend->ready());
    ASSERT_TRUE(uspd->ready());
    start_server(3);
    ASSERT_TRUE(wait_links_up()) << gateway->output().constData();

    const std::pair<QByteArray, QByteArray> rows[] = {
        { "/telecom/api/send_dl?modem_id=5", R"({"id":7})" },
        { "/telecom/api/messages?limit=2", R"([{"time_detected":3},{"time_detected":2}])" },
        { "/telecom/api/stinfo",
            R"({"BS_Total":{"alarms":{},"attached":{"stations":{"bs_ids":[]},)"
            R"("x_ids":[1,3]},"filtered":{"friend_stations":{"bs_ids":[]},"x_ids":[]}}})" },
        { "/telecom/api/send_dl_uspd?modem_id=6", R"({"first":true})" },
    };
    for (const auto& [target, body] : rows) {
        const raw_response answer = call_as(telecom_token("u@x", false), "GET", target);
        EXPECT_EQ(answer.status, 200) << target.constData();
        EXPECT_EQ(answer.header("content-type"), "application/json") << target.constData();
        EXPECT_EQ(answer.body, body) << target.constData();
    }
    const QJsonObject stats
        = object_of(call_as(telecom_token("u@x", false), "POST", "/telecom/api/stats", "{}").body);
    EXPECT_EQ(stats["ulMessLastHour"], 6);
    EXPECT_EQ(stats["TelecomVersion"], "a");
    EXPECT_EQ(last_data(recorded("u"), "send_dl")["modem_id"], 6);
}

TEST_F(telecom_road_test, api_keys_follow_the_switch_and_bad_pages_never_leave)
{
    const QJsonObject script { { "*", replies({ QJsonObject { { "ok", 1 } } }) } };
    const auto backend = start_backend("t", { sersoft_key, uspd_key }, script);
    ASSERT_TRUE(backend->ready());
    start_server(1, { { "GENERAL_SETTINGS/ADMIN_API_KEY", "admin-key" } });
    ASSERT_TRUE(wait_links_up()) << gateway->output().constData();

    const QByteArray two_keys = telecom_token("u@x", false, { "k1", "k2" });
    struct row
    {
        const char* behaviour;
        bool check_api_key;
        QByteArray method;
        QByteArray target;
        QByteArray body;
        QString type;
        QJsonValue api_key; // undefined: none sent
    };
    const row rows[] = {
        { "the caller's key first, then the token's", true, "GET",
            "/telecom/api/messages?api_key=mine", {}, "messages",
            QJsonArray { "mine", "k1", "k2" } },
        { "stinfo keeps the caller's own key", true, "GET", "/telecom/api/stinfo?api_key=mine", {},
            "stinfo", QJsonArray { "mine" } },
        { "bs without a key of its own gets the token's", true, "GET", "/telecom/api/bs", {}, "bs",
            QJsonArray { "k1", "k2" } },
        { "a POST always appends", true, "POST", "/telecom/api/bs?api_key=mine", "[1]", "bs_write",
            QJsonArray { "k1", "k2" } },
        { "a body's key array is kept and extended", true, "POST", "/telecom/api/stinfo",
            R"({"api_key":["b"]})", "stinfo", QJsonArray { "b", "k1", "k2" } },
        { "stats never carries keys", true, "GET", "/telecom/api/stats", {}, "stats",
            QJsonValue(QJsonValue::Undefined) },
        { "the _uspd route sends the token's keys", true, "GET",
            "/telecom/api/dl_message_status_uspd?api_key=mine", {}, "dl_message_status",
            QJsonArray { "k1", "k2" } },
        { "switch off: the administrator key after the caller's, for stinfo too", false, "GET",
            "/telecom/api/stinfo?api_key=mine", {}, "stinfo", QJsonArray { "mine", "admin-key" } },
        { "switch off: stats still carries none", false, "POST", "/telecom/api/stats", "{}",
            "stats", QJsonValue(QJsonValue::Undefined) },
        { "switch off: the _uspd route keeps to the token's keys", false, "POST",
            "/telecom/api/send_dl_uspd", "{}", "send_dl", QJsonArray { "k1", "k2" } },
    };
    bool switch_on = true;
    for (const row& r : rows) {
        if (r.check_api_key != switch_on) {
            switch_on = r.check_api_key;
            gateway->set_ini(
                "GENERAL_SETTINGS/CHECK_TOKEN_API_KEY", switch_on ? "ENABLE" : "DISABLE");
        }
        const raw_response answer = call_as(two_keys, r.method, r.target, r.body);
        EXPECT_EQ(answer.status, 200) << r.behaviour << "\n" << answer.body.constData();
        const QJsonObject data = last_data(recorded("t"), r.type);
        EXPECT_EQ(data.value("api_key"), r.api_key)
            << r.behaviour << "\n"
            << QJsonDocument(data).toJson(QJsonDocument::Compact).constData();
    }

    const int sent = recorded("t").size();
    const raw_response refused = call_as(two_keys, "GET", "/telecom/api/device?limit=64&offset=33");
    EXPECT_EQ(refused.status, 406);
    EXPECT_EQ(
        object_of(refused.body), QJsonObject({ { "What", "offset should be divisible by 32" } }));
    EXPECT_EQ(call_as(two_keys, "GET", "/telecom/api/clients").status, 200);
    EXPECT_EQ(recorded("t").size(), sent + 1) << "the refused page never left";
}

TEST_F(telecom_road_test, administrators_read_and_steer_the_statistics)
{
    const QJsonObject script { { "*", replies({ QJsonObject { { "ok", 1 } } }) } };
    const auto backend = start_backend("t", { sersoft_key }, script);
    ASSERT_TRUE(backend->ready());
    start_server(1);
    ASSERT_TRUE(wait_links_up()) << gateway->output().constData();
    const QByteArray admin = telecom_token("adm@x", true);
    const QByteArray user = telecom_token("u@x", false);
    const QByteArray later = QByteArray::number(QDateTime::currentSecsSinceEpoch() + 3600);

    ASSERT_EQ(call_as(user, "GET", "/telecom/api/clients").status, 200);
    const raw_response refused = call_as(user, "GET", "/statistic");
    EXPECT_EQ(refused.status, 403);
    EXPECT_EQ(object_of(refused.body),
        QJsonObject({ { "What", "Not enough rights. Available only for admin." } }));

    // Client objects: the caller sees its own request still running.
    const raw_response own = call_as(admin, "GET", "/statistic?user=adm@x&history=true");
    ASSERT_EQ(own.status, 200);
    const QJsonObject newest
        = object_of(own.body)["adm@x"].toObject()["history"].toArray()[0].toObject();
    EXPECT_EQ(newest["status"], "WAIT");
    EXPECT_EQ(newest["exec_ms"], -1);
    EXPECT_TRUE(newest["url"].toString().contains("/statistic")) << own.body.constData();

    // One question of every client.
    const QJsonObject counts = object_of(call_as(admin, "GET", "/statistic?user_list=count").body);
    EXPECT_EQ(counts["u@x"], 2);

    // A ban set by hand refuses the client's next request; an administrator passes its own.
    EXPECT_EQ(call_as(admin, "GET", "/statistic?user=u@x,adm@x&banned_to=" + later).body,
        R"({"status":"ok"})");
    EXPECT_EQ(call_as(user, "GET", "/telecom/api/clients").status, 429);
    const QJsonObject banned = object_of(call_as(admin, "GET", "/statistic?user_list=banned").body);
    EXPECT_EQ(banned.keys(), QStringList({ "adm@x", "u@x" }));
    EXPECT_EQ(
        call_as(admin, "GET", "/statistic?user=adm@x&banned_to=0").body, R"({"status":"ok"})");
    EXPECT_EQ(object_of(call_as(admin, "GET", "/statistic?user_list=banned").body).keys(),
        QStringList({ "u@x" }));
}

} // namespace
