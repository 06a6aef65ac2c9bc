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
