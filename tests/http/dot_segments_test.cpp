#include "http/qhttp_dot_segments.h"
#include "http/qhttp_wire.h"

#include <gtest/gtest.h>

using namespace qhttp;

TEST(DotSegments, FoundInThePathAsTheRouteTableDecodesIt)
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
        EXPECT_EQ(has_dot_segment(c.target), c.dot_segment) << c.target;
        // The same answer as the segments of the path the route table is given.
        const QStringList segments
            = wire::request_url(c.target).path(QUrl::FullyDecoded).split(QLatin1Char('/'));
        EXPECT_EQ(segments.contains(".") || segments.contains(".."), c.dot_segment) << c.target;
    }
}
