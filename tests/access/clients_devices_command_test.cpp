#include "access/clients_devices_command.h"

#include "qt_print.h"
#include <QJsonDocument>
#include <QStringList>
#include <algorithm>

#include <gtest/gtest.h>

namespace {

QString render(const ownership_table& table)
{
    QStringList parts;
    for (auto it = table.cbegin(); it != table.cend(); ++it) {
        QList<int> ids;
        for (const QString& id : it.value())
            ids << id.toInt();
        std::sort(ids.begin(), ids.end());
        QStringList texts;
        for (int id : ids)
            texts << QString::number(id);
        parts << it.key() + ":[" + texts.join(",") + "]";
    }
    parts.sort();
    return parts.join(";");
}

ownership_table table(const QHash<QString, QStringList>& owners)
{
    ownership_table result;
    for (auto it = owners.cbegin(); it != owners.cend(); ++it)
        for (const QString& id : it.value())
            result[it.key()].insert(id);
    return result;
}

rabbit_message message(const char* json)
{
    rabbit_message m;
    m.msg_type = "clients_devices";
    m.data = QJsonDocument::fromJson(json);
    return m;
}

} // namespace

TEST(ClientsDevicesCommand, StagesWhatThePushSays)
{
    struct Case
    {
        const char* behaviour;
        QHash<QString, QStringList> devices_before;
        const char* body;
        QString devices_after;
        QString stations_after;
    } rows[] = {
        { "modems and stations go under the key and into total", {},
            R"([{"api_key":"k","modem_ids":[5,7],"station_ids":[3]}])", "k:[5,7];total:[5,7]",
            "k:[3];total:[3]" },
        { "data that is not an array changes nothing", {}, R"({"api_key":"k","modem_ids":[1]})", "",
            "" },
        { "elements that are not objects are skipped", {},
            R"([1,"x",null,[],{"api_key":"k","modem_ids":[1]}])", "k:[1];total:[1]", "total:[]" },
        { "an empty key is skipped", {}, R"([{"api_key":"","modem_ids":[1]}])", "", "" },
        { "a missing key is skipped", {}, R"([{"modem_ids":[1]}])", "", "" },
        { "a key that is not a string is skipped", {}, R"([{"api_key":5,"modem_ids":[1]}])", "",
            "" },
        { "ids that are strings read as 0", {}, R"([{"api_key":"k","modem_ids":["12"]}])",
            "k:[0];total:[0]", "total:[]" },
        { "fractions and ids beyond 32 bits read as 0", {},
            R"([{"api_key":"k","modem_ids":[1.5,4294967296,-2147483648,2147483647]}])",
            "k:[-2147483648,0,2147483647];total:[-2147483648,0,2147483647]", "total:[]" },
        { "ids that are not an array count as none", {}, R"([{"api_key":"k","modem_ids":5}])",
            "total:[]", "total:[]" },
        { "a later list replaces the key's set; total keeps growing",
            { { "k", { "1", "2" } }, { "total", { "1", "2" } } },
            R"([{"api_key":"k","modem_ids":[3]}])", "k:[3];total:[1,2,3]", "total:[]" },
        { "an empty list removes the key from staging; total keeps its ids",
            { { "k", { "1" } }, { "total", { "1" } } }, R"([{"api_key":"k","modem_ids":[]}])",
            "total:[1]", "total:[]" },
    };
    for (const Case& row : rows) {
        SCOPED_TRACE(row.behaviour);
        ownership_table devices = table(row.devices_before);
        ownership_table stations;
        auto timer = std::make_shared<QTimer>();
        timer->setSingleShot(true);
        timer->setInterval(60000);
        ClientsDevicesCommand command(&devices, &stations, timer);
        EXPECT_EQ(command.name(), "clients_devices");
        EXPECT_TRUE(command.execute(message(row.body)).isEmpty());
        EXPECT_EQ(render(devices), row.devices_after);
        EXPECT_EQ(render(stations), row.stations_after);
        EXPECT_TRUE(timer->isActive()) << "every push restarts the commit timer";
    }
}
