#include "routes/road_fixture.h"
#include "routes/server_set.h"
#include "routes/test_token.h"

#include "router/qt_print.h"

#include <QJsonArray>
#include <QJsonParseError>
#include <functional>
#include <optional>

// The modem handlers that send a request body on read it without a document of it, and the
// command must carry exactly what it carried when the body was read into QJsonDocument's DOM:
// these rows set every such handler against that old reading, byte for byte.

namespace {

struct qt_reading
{
    bool json; // parsed without error
    QJsonObject object; // QJsonDocument::object(): {} for an array or text that is not JSON
};

qt_reading read_as_qt(const QByteArray& body)
{
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    return { error.error == QJsonParseError::NoError, document.object() };
}

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

class json_body_commands_test : public road_fixture
{
protected:
    void SetUp() override
    {
        restrict_callers_to_their_keys(); // a restricted caller, whose keys every modem passes
        start<server_set>();
    }

    // POSTs `body`: true when a command went out (the last of api.commands), else the answer.
    bool post(const QByteArray& target, const QByteArray& body, raw_response& answer)
    {
        return command_or_answer("POST", target, restricted_user(), body, answer);
    }
};

TEST_F(json_body_commands_test, a_body_goes_out_as_its_qt_object_went)
{
    const QByteArray bodies[] = {
        R"({"5":[[[1,[2]]],[]],"6":{}})",
        R"({"5":1,"5":{"b":2,"a":1,"b":3},"4":[{"z":1,"y":2}]})",
        "{\"\xc3\xa9\":1,\"\\u00e9\":2,\"\\ud83d\\ude00\":[],\"\\ud83d\":3,\"\xee\x80\x80\":4}",
        R"({"5":[1.0,-0,1e2,0.1,12345678901234567890,-1.5e-7,1E+2,-0.0,1e-400]})",
        R"({"5":"a\/b\u0001\t\"\\","6":"\u00e9\u0000"})",
        "{\"5\":\"raw\x01control\"}",
        "  {\r\n \"5\" : [ 1 , { \"b\" : true , \"a\" : null } ] }\t",
        "\xef\xbb\xbf{\"5\":1}",
        R"([{"5":1}])",
        "[]",
        "{}",
        R"({"5":1)",
        "not json",
        "",
    };
    struct route
    {
        const char* target;
        const char* type;
        // The command data of the old reading; none when the request was refused.
        std::function<std::optional<QJsonObject>(const qt_reading&)> data;
    };
    const QJsonObject no_query;
    const route routes[] = {
        { "/api/setting", "write_setting",
            [](const qt_reading& qt) {
                return QJsonObject { { "settings", qt.object } };
            } },
        { "/api/calib", "write_calib",
            [](const qt_reading& qt) {
                return QJsonObject { { "calibs", qt.object } };
            } },
        { "/api/custom?instance=i", "custom_request",
            [&](const qt_reading& qt) {
                return QJsonObject { { "modem_id", QJsonArray() }, { "instance", "i" },
                    { "type", "post" }, { "body", qt.object }, { "query", no_query } };
            } },
        { "/api/dl?modem_id=5,x,5&timeout=9", "send_dl_msg",
            [](const qt_reading& qt) -> std::optional<QJsonObject> {
                if (!qt.json)
                    return std::nullopt;
                // The in-process road reads no API key of an unchecked token.
                return QJsonObject { { "modem_id", QJsonArray { 5, 5 } }, { "timeout", 9 },
                    { "data", qt.object }, { "api_key", QJsonArray() } };
            } },
        { "/api/dl_queue", "dl_queue",
            [](const qt_reading& qt) -> std::optional<QJsonObject> {
                if (!qt.json)
                    return std::nullopt;
                return qt.object;
            } },
    };
    for (const route& to : routes) {
        for (const QByteArray& body : bodies) {
            const std::string where
                = to.target + (" " + body.toPercentEncoding(" {}[]:,\"")).toStdString();
            raw_response answer;
            const bool sent = post(to.target, body, answer);
            const std::optional<QJsonObject> expected = to.data(read_as_qt(body));
            if (!expected) {
                EXPECT_FALSE(sent) << where;
                EXPECT_EQ(answer.status, 403) << where;
                EXPECT_EQ(answer.body, R"({"What":"Body is not JSON"})") << where;
                continue;
            }
            EXPECT_TRUE(sent) << where << " " << answer.body.toStdString();
            if (!sent)
                continue;
            EXPECT_EQ(api.commands.front().type, to.type) << where;
            EXPECT_EQ(
                api.commands.front().data_text.toStdString(), compact(*expected).toStdString())
                << where;
        }
    }
}

} // namespace
