#include "router/message_order.h"

#include "qt_print.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <vector>

namespace {

class MessageOrder : public ::testing::TestWithParam<message_order>
{ };

// The elements of `values` in arrival order: {key: value, "id": i}; null leaves the key out,
// and a one-element array [x] stands for the element x itself, which is not an object.
QJsonArray elements_of(const char* values, QLatin1String key)
{
    QJsonArray elements;
    const QJsonArray list = QJsonDocument::fromJson(values).array();
    for (int i = 0; i < list.size(); ++i) {
        QJsonObject element { { "id", i } };
        if (list[i].isArray())
            elements.append(list[i].toArray().first());
        else if (list[i].isNull())
            elements.append(element);
        else
            elements.append((element.insert(key, list[i]), element));
    }
    return elements;
}

TEST_P(MessageOrder, SortsNewestFirstKeyedElementsLeading)
{
    const QLatin1String key = GetParam().key;
    const struct
    {
        const char* values;
        std::vector<int> order;
    } rows[] = {
        { "[3,5]", { 1, 0 } },
        { "[5,3]", { 0, 1 } },
        { "[4,4]", { 0, 1 } }, // equal values keep arrival order
        { R"(["12",9])", { 0, 1 } }, // decimal text reads as its number
        { R"(["10",11])", { 1, 0 } }, // in base ten
        { R"(["x",-1])", { 0, 1 } }, // other text reads 0
        { "[0,true]", { 1, 0 } }, // true reads 1
        { "[null,0]", { 1, 0 } }, // keyed elements lead
        { "[null,null,2]", { 2, 0, 1 } },
        { "[[7],1]", { 1, 0 } }, // not an object: reads as lacking the key
        { "[-2,-1.5]", { 1, 0 } }, // rounded half up: -1.5 reads -1
        { "[2,2.5]", { 1, 0 } },
        { "[2,2.4]", { 0, 1 } },
        { "[2147483647,1e30]", { 0, 1 } }, // held to the range
        { R"([2147483647,"3000000000",5])", { 0, 1, 2 } },
    };
    for (const auto& row : rows) {
        const QJsonArray elements = elements_of(row.values, key);
        QJsonArray expected;
        for (int i : row.order)
            expected.append(elements[i]);
        EXPECT_EQ(QJsonDocument(sorted_newest_first(elements, GetParam())).toJson(),
            QJsonDocument(expected).toJson())
            << row.values;
    }
}

INSTANTIATE_TEST_SUITE_P(Keys, MessageOrder,
    ::testing::Values(time_saved_greater, time_detected_greater, posted_time_greater),
    [](const auto& info) { return std::string(info.param.key.data()); });

} // namespace
