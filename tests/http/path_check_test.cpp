#include "http/qhttp_path_check.h"
#include "http/qhttp_wire.h"

#include <gtest/gtest.h>

using namespace qhttp;

TEST(PathCheck, DotSegmentsFoundInThePathAsTheRouteTableDecodesIt)
{
    struct Case
    {
        const char* target;
        bool dot_segment;
    };
    const Case cases[] = {
        { "/a/./b", true },
        { "/a/../b", true },
        { "/..", true },
        { "/a/.", true },
        { "/auth/..%2f..%2fadmin", true }, // an encoded slash ends a segment too
        { "/a/%2e%2E/b", true },
        { "/a/.%2e", true },
        { "//../x", true },
        { "http://h:81/a/../b?x", true },
        { "/a/.b", false },
        { "/a/b.", false },
        { "/a/...", false },
        { "/a/%2e%2e%2e", false },
        { "/a/%252e%252e/b", false }, // decoded once, as matched
        { "/a/.%2", false },
        { "/a?x=/../b", false },
        { "/a#/../b", false },
        { "*", false },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(is_unsafe_path(c.target), c.dot_segment) << c.target;
        // The same answer as the segments of the path the route table is given.
        const QStringList segments
            = wire::request_url(c.target).path(QUrl::FullyDecoded).split(QLatin1Char('/'));
        EXPECT_EQ(segments.contains(".") || segments.contains(".."), c.dot_segment) << c.target;
    }
}

// Paths a target may resolve to other segments than the route table matched.
TEST(PathCheck, SegmentsATargetMayResolveOtherwiseAreFound)
{
    struct Case
    {
        const char* target;
        bool unsafe;
    };
    const Case cases[] = {
        { "/api/..;/admin", true }, // a dot segment with parameters, to a servlet-style target
        { "/api/.;/x", true },
        { "/api/%2e%2e;/admin", true },
        { "/api/..%3bx=1/admin", true },
        { "/a\\b", true },
        { "/a/..%5C..%5cadmin", true },
        { "/a/x%00.json", true },
        { "/a;b=c/x", false },
        { "/..a/x", false },
        { "/a../x", false },
        { "/%2e%2ex", false },
        { "/a/%255c/%2500", false }, // decoded once
        { "/a?p=..;/b\\c%5C%00", false },
    };
    for (const Case& c : cases)
        EXPECT_EQ(is_unsafe_path(c.target), c.unsafe) << c.target;
}
