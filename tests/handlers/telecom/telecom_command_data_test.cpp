#include "app/dependency_container.h"
#include "handlers/telecom/telecom_command_table.h"
#include "router/json_helpers.h"
#include "router/query_params.h"
#include "routes/road_fixture.h"

#include <functional>
#include <gtest/gtest.h>
#include <optional>

// A telecom command's data, read from the body's text, against what the handler made of it with
// a document of the body: the same bytes, the same refusals, the same answers of the reply rules.

namespace {

// The data as the handler made it before, from a document of the body with each query item
// inserted in turn.
QJsonObject dom_post(const GeneralPostQueryParser*, const QUrl& url, const QByteArray& body)
{
    QJsonObject result = QJsonDocument::fromJson(body).object();
    const QJsonObject query = query_to_json(url);
    for (auto it = query.constBegin(); it != query.constEnd(); ++it)
        result.insert(it.key(), it.value());
    return result;
}

QJsonObject dom_array(const QUrl& url, const QByteArray& body, const char* member)
{
    QJsonObject result = query_to_json(url);
    result.insert(QLatin1String(member), QJsonDocument::fromJson(body).array());
    return result;
}

QJsonObject dom_post(const BsPostQueryParser*, const QUrl& url, const QByteArray& body)
{
    return dom_array(url, body, "bs_array");
}

QJsonObject dom_post(const DevicePostQueryParser*, const QUrl& url, const QByteArray& body)
{
    return dom_array(url, body, "device_array");
}

QJsonObject dom_post(const ClientsPostQueryParser*, const QUrl& url, const QByteArray& body)
{
    return dom_array(url, body, "clients_devices");
}

qint32 dom_page_part(const QJsonValue& value, qint32 parts, const char* refusal)
{
    const qint32 n = read_int32(value);
    if ((n & 31) != 0)
        throw http_exception(QLatin1String(refusal), 406);
    return n / parts;
}

struct outcome
{
    QByteArray data; // or the refusal, with its status
    QByteArray answer; // what the reply rule answers to the replies
};

const QByteArray reply = R"([{"posted_time":2,"time_detected":2,"time_saved":1},)"
                         R"({"posted_time":1,"time_detected":3,"time_saved":3},)"
                         R"({"posted_time":3,"time_detected":1,"time_saved":2}])";

// Fed one reply at a time until it completes, at most `instances` times.
template <class Collect>
QByteArray answer_of(Collect collect, int instances)
{
    for (int i = 0; i < std::max(instances, 1); ++i) {
        QJsonDocument document = QJsonDocument::fromJson(reply);
        if (collect(document))
            return document.toJson(QJsonDocument::Compact);
    }
    return "(none)";
}

struct route_case
{
    const char* name;
    std::function<outcome(const request_container&, bool get, const QUrl&, const QByteArray&)> now;
    std::function<outcome(const request_container&, bool get, const QUrl&, const QByteArray&)>
        before;
};

template <telecom_backend Backend, class Get, class Post, class GetParser, class PostParser>
route_case route_of(const char* name,
    const telecom_command_handler<Backend, Get, Post, GetParser, PostParser>* /*the route's base*/)
{
    using handler = telecom_command_handler<Backend, Get, Post, GetParser, PostParser>;
    const auto now = [](const request_container& container, bool get, const QUrl& url,
                         const QByteArray& body) {
        const auto route = std::make_shared<handler>(container);
        try {
            AsyncRabbitResult result = get ? route->get({ url, body }) : route->post({ url, body });
            // While it waits, the command keeps what its reply rule reads, not its data.
            for (const QString& key : route->stored_request().keys())
                EXPECT_TRUE(key == "limit" || key == "time_saved") << key.toStdString();
            return outcome { result.data.compact_after("", 0),
                answer_of(result._postProcess, container.conf.SERSOFT_INST_COUNT) };
        } catch (const http_exception& refusal) {
            return outcome { QByteArray::number(refusal.status()) + refusal.message().toUtf8(),
                {} };
        }
    };
    const auto before = [](const request_container& container, bool get, const QUrl& url,
                            const QByteArray& body) {
        const global_conf& conf = container.conf;
        QJsonObject data = get ? GetParser::parse(url, body)
                               : dom_post(static_cast<PostParser*>(nullptr), url, body);
        const api_key_rule rule = get ? Get::api_keys : Post::api_keys;
        const bool sersoft = Backend == telecom_backend::sersoft;
        if (rule != api_key_rule::none) {
            const bool keep = sersoft && get && rule == api_key_rule::keep_callers;
            if (sersoft && !conf.CHECK_TOKEN_API_KEY)
                add_api_keys(data, { conf.ADMIN_API_KEY });
            else if (!(keep && data.contains("api_key")))
                add_api_keys(data, container.context.api_keys);
        }
        try {
            if (get && Get::paged && sersoft && data.contains("limit")) {
                const qint32 parts = std::max(conf.SERSOFT_INST_COUNT, 1);
                data.insert("limit",
                    dom_page_part(data.value("limit"), parts, "limit should be divisible by 32"));
                if (data.contains("offset"))
                    data.insert("offset",
                        dom_page_part(
                            data.value("offset"), parts, "offset should be divisible by 32"));
            }
        } catch (const http_exception& refusal) {
            return outcome { QByteArray::number(refusal.status()) + refusal.message().toUtf8(),
                {} };
        }
        const auto collect = [&data, &conf, rule = std::make_shared<Get>(),
                                 post_rule = std::make_shared<Post>(), get](QJsonDocument& doc) {
            return get ? rule->collect_reply(doc, data, conf.SERSOFT_INST_COUNT)
                       : post_rule->collect_reply(doc, data, conf.SERSOFT_INST_COUNT);
        };
        return outcome { QJsonDocument(data).toJson(QJsonDocument::Compact),
            answer_of(collect, conf.SERSOFT_INST_COUNT) };
    };
    return { name, now, before };
}

template <class Route>
route_case route(const char* name)
{
    return route_of(name, static_cast<Route*>(nullptr));
}

QByteArray many_members(const char* extra)
{
    QByteArray body = "{";
    for (int i = 0; i < 200; ++i)
        body += "\"m" + QByteArray::number(1000 + i) + "\":" + QByteArray::number(i) + ",";
    return body + extra + "}";
}

std::string what(const route_case& route, bool get, const QByteArray& query, const QByteArray& body,
    int instances, bool check)
{
    return std::string(route.name) + (get ? " GET ?" : " POST ?") + query.left(60).toStdString()
        + " " + body.left(60).toStdString() + " instances " + std::to_string(instances)
        + (check ? " keys checked" : " keys unchecked");
}

TEST(telecom_command_data, is_what_a_document_of_the_body_made_of_it)
{
    const route_case routes[] = {
        route<TelecomStats>("stats: no API keys"),
        route<TelecomMessages>("messages: keys appended, limit and time_saved read"),
        route<TelecomDlMessages>("dl_messages: limit read"),
        route<TelecomStinfo>("stinfo: the caller's own keys on GET"),
        route<TelecomBs>("bs: the array body's parser"),
        route<TelecomDevice>("device: paged"),
        route<TelecomClients>("clients: the general GET parser"),
        route<TelecomSendDlUspd>("send_dl_uspd: the token's keys"),
    };
    const QByteArray escaped_keys = "{\"\\u00e9\":1,\"\xc3\xa9\":2,\"\\ud83d\\ude00\":3,\"\":4,"
                                    "\"k\\\"q\":5,\"a\\u0000b\":6,\"api_\\u006bey\":[\"e\"]}";
    // The parser orders U+E000 before U+1F600 (by code point), QString the other way round.
    const QByteArray unordered_keys = "\"\xee\x80\x80\":\"pu\",\"\xf0\x9f\x98\x80\":\"sm\"";
    const QByteArray bodies[] = {
        R"({"b":1,"m":[[[1]]],"z":{"y":2,"x":1},"s":"t\u00e9xt"})",
        R"({"api_key":["c1",["n"],{"o":1}],"a":1})",
        R"({"api_key":"c1","b":2})",
        R"({"api_key":[],"b":2})",
        R"({"api_key":{"k":["x"]}})",
        R"({"limit":2,"offset":32,"time_saved":1})",
        R"({"limit":[5],"time_saved":{"a":1}})",
        R"({"limit":"2","time_saved":true})",
        R"({"a":1,"a":2,"b":3,"b":{"c":1},"api_key":[1],"api_key":[2]})",
        R"([1,[2],{"b":1,"a":2}])",
        "[]",
        "not json",
        "",
        R"({"a":1)",
        R"({"n":[1.50,-0,1e2,0.1,123456789012345678901234,-1E-7],"x":1.0})",
        escaped_keys,
        "{" + unordered_keys + ",\"b\":3}",
        // Qt compares this key with its byte order mark, which the key's QString drops.
        "{\"\xef\xbb\xbfk\":1,\"b\":2}",
        "{\"\xef\xbb\xbf"
        "a\":1,\"a\":2,\"b\":4}",
        many_members(R"("api_key":["z"])"),
        many_members(unordered_keys),
        many_members("\"\xef\xbb\xbf"
                     "api_kex\":0"),
    };
    QByteArray early_items; // more than the one-by-one inserts take: the object is made anew
    for (int i = 0; i < 40; ++i)
        early_items += "&a" + QByteArray::number(10 + i) + "=" + QByteArray::number(i);
    const QByteArray queries[] = {
        "",
        "a=x&zz=1",
        "b=2&m=3&s=4",
        "api_key=q1,q2",
        "api_key=solo",
        "api_key=%7B%22k%22:1%7D",
        "limit=64&offset=32",
        "limit=1&time_saved=1",
        "limit=33",
        "limit=64&offset=33",
        "limit=abc",
        "%C3%A9=1&%EE%80%80=2",
        "%F0%9F%98%80=q",
        "%EE%80%80=3",
        "a=5&%EE%80%80=3&%EF%BB%BFa=6",
        early_items.mid(1),
        early_items.mid(1) + "&api_key=e",
    };
    // The dl_messages merge logs every reply it reads.
    const struct quiet
    {
        QtMessageHandler previous
            = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        ~quiet() { qInstallMessageHandler(previous); }
    } quiet;
    logger log(QStringLiteral("stderr"), QString(), LOG_OFF);
    null_access access;
    fake_command_client api;
    statistic_map statistics;
    global_conf conf;
    rabbit_api_config rabbit;
    conf.ADMIN_API_KEY = "adm";
    request_container container { { conf, access, log, rabbit, nullptr, statistics, api }, {} };
    container.context.api_keys = QStringList { "t1", "t\"2" };
    int compared = 0;
    for (const int instances : { 2, 1 }) {
        conf.SERSOFT_INST_COUNT = instances;
        for (const bool check : { true, false }) {
            conf.CHECK_TOKEN_API_KEY = check;
            for (const route_case& route : routes) {
                for (const QByteArray& body : bodies) {
                    for (const QByteArray& query : queries) {
                        const QUrl url = QUrl::fromEncoded("http://h/t?" + query);
                        for (const bool get : { true, false }) {
                            const outcome now = route.now(container, get, url, body);
                            const outcome before = route.before(container, get, url, body);
                            ASSERT_EQ(now.data.toStdString(), before.data.toStdString())
                                << what(route, get, query, body, instances, check);
                            ASSERT_EQ(now.answer.toStdString(), before.answer.toStdString())
                                << what(route, get, query, body, instances, check);
                            ++compared;
                        }
                    }
                }
            }
        }
    }
    EXPECT_GT(compared, 0);
}

} // namespace
