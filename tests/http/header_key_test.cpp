#include "http/qhttp_header_key.h"

#include <QHash>
#include <gtest/gtest.h>

// Two names of one length made to share Qt's byte hash under any seed (a CRC, where this
// machine has the instruction for it): the header table must not let them share a bucket.
TEST(HeaderKey, NamesMadeToShareQtsHashDoNotShareTheTables)
{
    const QByteArray a = "xoeceioigagokcmaocmai";
    const QByteArray b = "xmcgiccgmimoigmegcgmo";
    if (qHash(a, 1u) != qHash(b, 1u) || qHash(a, 12345u) != qHash(b, 12345u))
        GTEST_SKIP() << "Qt's byte hash is not a CRC here";
    EXPECT_NE(qHash(qhttp::header_key(a)), qHash(qhttp::header_key(b)));
    // A name keeps its hash, however it was made.
    EXPECT_EQ(qHash(qhttp::header_key(a)), qHash(qhttp::header_key(a.constData(), a.size())));
}
