#include "app/keyed_hash.h"

#include <QHash>
#include <gtest/gtest.h>

// Ids made of blocks that share Qt's unseeded text hash ("An" and "BO": 31*h+c gives 2125 for
// both) share it whatever the blocks' order; under the secret they do not.
TEST(KeyedHash, TextsThatShareQtsUnseededHashDoNotShareIt)
{
    const QString a = QStringLiteral("AnBOAnBO");
    const QString b = QStringLiteral("BOAnBOAn");
    ASSERT_EQ(qHash(a, 0u), qHash(b, 0u));
    EXPECT_NE(qHash(keyed_text(a)), qHash(keyed_text(b)));
    EXPECT_EQ(qHash(keyed_text(a)), qHash(keyed_text(QString(a))));
    EXPECT_NE(keyed_hash(QByteArray("AnBOAnBO")), keyed_hash(QByteArray("BOAnBOAn")));
}

TEST(KeyedHash, FoldingCaseTakesLettersOnlyInLowerCase)
{
    const auto folded
        = [](const char* text) { return keyed_hash_folding_case(text, strlen(text)); };
    EXPECT_EQ(folded("Content-LENGTH-with-a-long-tail"), folded("content-length-WITH-A-long-tail"));
    EXPECT_NE(folded("a[b"), folded("a{b")); // '[' and '{' differ by the case bit, not by case
}
