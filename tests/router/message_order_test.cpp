#include "router/message_order.h"

#include "qt_print.h"

#include <QJsonObject>
#include <QVariantList>
#include <algorithm>
#include <gtest/gtest.h>

namespace {

using comparator = bool (*)(const QVariant&, const QVariant&);

struct OrderCase
{
    const char* key;
    comparator compare;
};

class MessageOrder : public ::testing::TestWithParam<OrderCase>
{ };

QVariant item(const QString& key, const QVariant& value, int id)
{
    return QVariantMap { { key, value }, { "id", id } };
}

QVariant keyless(int id)
{
    return QVariantMap { { "id", id } };
}

TEST_P(MessageOrder, PairsOrderNewestFirst)
{
    const OrderCase& c = GetParam();
    EXPECT_TRUE(c.compare(item(c.key, 5, 0), item(c.key, 3, 1)));
    EXPECT_FALSE(c.compare(item(c.key, 3, 0), item(c.key, 5, 1)));
    EXPECT_FALSE(c.compare(item(c.key, 4, 0), item(c.key, 4, 1)));
    EXPECT_TRUE(c.compare(item(c.key, "12", 0), item(c.key, 9, 1))); // decimal text reads as number
    EXPECT_TRUE(c.compare(item(c.key, 0, 0), keyless(1))); // keyed items lead
    EXPECT_FALSE(c.compare(keyless(0), item(c.key, 0, 1)));
    EXPECT_FALSE(c.compare(keyless(0), keyless(1)));
    EXPECT_FALSE(c.compare(QVariant(7), keyless(1))); // not a map: reads as lacking the key
}

TEST_P(MessageOrder, SortsMixedListsKeyedFirst)
{
    const OrderCase& c = GetParam();
    QVariantList items;
    for (int i = 0; i < 200; ++i) {
        const int value = (i * 7919) % 101;
        items.append(i % 3 == 0 ? keyless(i) : item(c.key, value, i));
    }
    std::sort(items.begin(), items.end(), c.compare);

    int keyed = 0;
    while (keyed < items.size() && items.at(keyed).toMap().contains(c.key))
        ++keyed;
    EXPECT_EQ(keyed, 200 - 67);
    for (int i = keyed; i < items.size(); ++i)
        EXPECT_FALSE(items.at(i).toMap().contains(c.key)) << i;
    for (int i = 1; i < keyed; ++i)
        EXPECT_GE(
            items.at(i - 1).toMap().value(c.key).toInt(), items.at(i).toMap().value(c.key).toInt());
}

INSTANTIATE_TEST_SUITE_P(Keys, MessageOrder,
    ::testing::Values(OrderCase { "time_saved", compare_time_saved },
        OrderCase { "time_detected", compare_time_detected },
        OrderCase { "posted_time", compare_posted_time }),
    [](const auto& info) { return std::string(info.param.key); });

} // namespace
