#include "app/static_tables.h"

#include <QDateTime>
#include <gtest/gtest.h>

namespace {

TEST(StaticTables, ObisTableInKeyOrder)
{
    ASSERT_EQ(obis_to_tornel_table.size(), 6);
    EXPECT_EQ(obis_to_tornel_table.firstKey(), "1.0.94.7.0.255");
    EXPECT_EQ(obis_to_tornel_table.lastKey(), "1.0.99.1.0.255");
    EXPECT_EQ(obis_to_tornel_table.keys(),
        (QStringList { "1.0.94.7.0.255", "1.0.94.7.5.255", "1.0.94.7.8.255", "1.0.98.1.0.255",
            "1.0.98.2.0.255", "1.0.99.1.0.255" }));
    EXPECT_EQ(obis_to_tornel_table.value("1.0.98.2.0.255"), "tornel.data_day");
    EXPECT_EQ(obis_to_tornel_table.value("1.0.99.1.0.255"), "tornel.data_profile");
}

TEST(StaticTables, EventJournals)
{
    ASSERT_EQ(event_journal_obis.size(), 11);
    for (int type = 0; type < event_journal_obis.size(); ++type)
        EXPECT_EQ(event_journal_obis[type], QString("0.0.99.98.%1.255").arg(type));
    EXPECT_EQ(event_journal_obis.last(), "0.0.99.98.10.255");
}

TEST(StaticTables, TextsAndTimeFormat)
{
    const QDateTime t(QDate(2024, 8, 30), QTime(12, 0, 0, 500), Qt::UTC);
    EXPECT_EQ(t.toString(utc_time_format), "2024.08.30 12:00:00.500 UTC");
    EXPECT_EQ(spodes_to_tornel_prefix, "/spodes_to_tornel/");
    EXPECT_EQ(app_version, "1.4.3-54");
    EXPECT_EQ(app_build_date, "Aug 30 2024");
}

} // namespace
