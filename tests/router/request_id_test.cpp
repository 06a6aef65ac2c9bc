#include "qt_print.h"
#include "router/request_id.h"

#include <QSet>
#include <QUuid>
#include <gtest/gtest.h>

namespace {

// Request ids land in logs and statistics in QUuid's braced text form, as random UUIDs.
TEST(RequestId, IsARandomUuidInBracedTextForm)
{
    QSet<QString> seen;
    for (int i = 0; i < 1000; ++i) {
        const QString id = make_request_id();
        ASSERT_EQ(id.size(), 38) << id.toStdString();
        const QUuid parsed(id);
        ASSERT_FALSE(parsed.isNull()) << id.toStdString();
        EXPECT_EQ(parsed.toString(), id) << "the same text QUuid writes";
        EXPECT_EQ(parsed.version(), QUuid::Random);
        EXPECT_EQ(parsed.variant(), QUuid::DCE);
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 1000);
}

} // namespace
