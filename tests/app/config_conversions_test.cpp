#include "app/config_conversions.h"

#include <gtest/gtest.h>
#include <limits>

namespace {

constexpr int int_max = std::numeric_limits<int>::max();
constexpr int int_min = std::numeric_limits<int>::min();

struct int_case
{
    const char* behaviour;
    const char* text;
    int expected;
};

TEST(ConfigConversions, Int32)
{
    const int_case cases[] = {
        { "plain number", "5", 5 },
        { "negative number", "-3", -3 },
        { "surrounding blanks are ignored", " 7 ", 7 },
        { "not a number gives 0", "abc", 0 },
        { "empty text gives 0", "", 0 },
        { "hex is not decimal", "0x10", 0 },
        { "exponent form is not an integer", "1e3", 0 },
        { "the int bounds themselves", "2147483647", int_max },
        { "the lowest int", "-2147483648", int_min },
        { "past the int range is not a number: 0", "3000000000", 0 },
        { "below the int range is not a number: 0", "-3000000000", 0 },
        { "past 64 bits gives 0", "99999999999999999999999", 0 },
    };
    for (const auto& c : cases)
        EXPECT_EQ(to_int32(QString::fromLatin1(c.text)), c.expected) << c.behaviour;
}

TEST(ConfigConversions, SecondsToMilliseconds)
{
    const int_case cases[] = {
        { "seconds become milliseconds", "5", 5000 },
        { "default ban time", "600", 600000 },
        { "not a number gives 0", "abc", 0 },
        { "largest value that fits", "2147483", 2147483000 },
        { "one second more is clamped instead of overflowing", "2147484", int_max },
        { "huge negative is clamped", "-2147484", int_min },
        { "a number past 64 bits is clamped", "99999999999999999999", int_max },
        { "negative seconds stay negative", "-1", -1000 },
    };
    for (const auto& c : cases)
        EXPECT_EQ(seconds_to_ms(QString::fromLatin1(c.text)), c.expected) << c.behaviour;
}

TEST(ConfigConversions, Unsigned)
{
    const struct
    {
        const char* behaviour;
        const char* text;
        quint32 expected;
    } cases[] = {
        { "plain port", "8001", 8001u },
        { "not a number gives 0", "http", 0u },
        { "negative gives 0", "-1", 0u },
        { "largest unsigned", "4294967295", 4294967295u },
        { "past 32 bits gives 0", "4294967296", 0u },
        { "empty gives 0", "", 0u },
    };
    for (const auto& c : cases)
        EXPECT_EQ(to_uint32(QString::fromLatin1(c.text)), c.expected) << c.behaviour;
}

TEST(ConfigConversions, Bindings)
{
    using pairs = QList<QPair<QString, QString>>;
    const struct
    {
        const char* behaviour;
        const char* text;
        pairs expected;
        QStringList skipped;
    } cases[] = {
        { "two bindings in order", "x:k1,y:k2", pairs { { "x", "k1" }, { "y", "k2" } }, {} },
        { "a third field is ignored", "x:k1:extra", pairs { { "x", "k1" } }, {} },
        { "empty fields are kept", ":k,x:", pairs { { "", "k" }, { "x", "" } }, {} },
        { "a part without ':' is skipped and reported", "x:k1,broken,y:k2",
            pairs { { "x", "k1" }, { "y", "k2" } }, { "broken" } },
        { "empty parts are skipped and reported", "x:k1,,y:k2,",
            pairs { { "x", "k1" }, { "y", "k2" } }, { "", "" } },
        { "a final ',' is an empty part", "a:b,", pairs { { "a", "b" } }, { "" } },
        { "an empty value has no binding", "", pairs {}, {} },
    };
    for (const auto& c : cases) {
        QStringList skipped;
        EXPECT_EQ(parse_bindings(QString::fromLatin1(c.text), &skipped), c.expected) << c.behaviour;
        EXPECT_EQ(skipped, c.skipped) << c.behaviour;
    }
    EXPECT_EQ(parse_bindings("a:b,c").size(), 1) << "the skipped list is optional";
}

} // namespace
