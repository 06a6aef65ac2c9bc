#include "access/distinct_list.h"

#include "qt_print.h"

#include <QStringList>
#include <gtest/gtest.h>

namespace {

// Each value's position on adding, then the distinct values in order.
QString trace(const QStringList& list)
{
    distinct_list<QStringView> distinct;
    QStringList positions;
    for (const QString& value : list)
        positions << QString::number(distinct.add(value));
    QStringList values;
    for (QStringView value : distinct.values())
        values << value.toString();
    return positions.join(',') + " | " + values.join(',');
}

TEST(distinct_list, keeps_each_value_once_in_first_seen_order)
{
    QStringList many, many_positions;
    for (int i = 40; i >= 1; --i)
        many << QString::number(i) << QString::number(i);
    for (int i = 0; i < 40; ++i)
        many_positions << QString::number(i) << QString::number(i);
    struct row
    {
        const char* behaviour;
        QStringList list;
        QString expected;
    };
    const row rows[] = {
        { "values sharing Qt's hash stay apart; repeats find the first",
            { "An", "BO", "An", "C0", "BO" }, "0,1,0,2,1 | An,BO,C0" },
        { "an empty value is one value", { "", "5", "" }, "0,1,0 | ,5" },
        { "a value and its prefix differ", { "12", "1", "12" }, "0,1,0 | 12,1" },
    };
    for (const row& r : rows)
        EXPECT_EQ(trace(r.list), r.expected) << r.behaviour;
    // Past the first table's sixteen slots every value is still found where it was put.
    QStringList values;
    for (int i = 40; i >= 1; --i)
        values << QString::number(i);
    EXPECT_EQ(trace(many), many_positions.join(',') + " | " + values.join(','));
}

// The table widens as the value one past a power of two comes; a list whose length is known in
// advance gets a table of twice that, one that outgrows its expected length doubles again. Every
// value is then still found where it was put, and a value never added is not.
TEST(distinct_list, lists_as_long_as_a_power_of_two_and_one_past_it_keep_every_position)
{
    struct row
    {
        const char* behaviour;
        int values;
        std::size_t expected; // 0: not known
    };
    const row rows[] = {
        { "16: the first table widened once", 16, 0 },
        { "17: widened as the last value comes", 17, 0 },
        { "4,096 known in advance", 4096, 4096 },
        { "4,097 known in advance: the last table is not a power of two", 4097, 4097 },
        { "4,097 where 100 were expected", 4097, 100 },
        { "4,097 where more were expected", 4097, 100000 },
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.behaviour);
        QStringList texts;
        for (int i = 0; i < r.values; ++i)
            texts << "v" + QString::number(i);
        distinct_list<QStringView> distinct(r.expected);
        for (int round = 0; round < 2; ++round) {
            for (int i = 0; i < r.values; ++i)
                ASSERT_EQ(distinct.add(texts[i]), i) << "round " << round;
        }
        ASSERT_EQ(distinct.size(), r.values);
        for (int i = 0; i < r.values; ++i)
            ASSERT_EQ(distinct.position(texts[i]), i);
        EXPECT_EQ(distinct.position(u"v-1"), -1);
    }
}

TEST(distinct_list, finds_positions_of_numbers)
{
    distinct_list<int> numbers;
    for (int n : { 7, -7, 0, 7, 100000, 0 })
        numbers.add(n);
    EXPECT_EQ(numbers.values(), (std::vector<int> { 7, -7, 0, 100000 }));
    EXPECT_EQ(numbers.position(0), 2);
    EXPECT_EQ(numbers.position(100000), 3);
    EXPECT_EQ(numbers.position(8), -1);
    EXPECT_EQ(distinct_list<int>().position(0), -1);
}

} // namespace
