#include "router/hop_by_hop.h"

#include <QList>
#include <QPair>
#include <QSet>
#include <gtest/gtest.h>

namespace {

using header = QPair<QByteArray, QByteArray>;

// The names of the headers the rule keeps, in order.
QList<QByteArray> kept(const QList<header>& headers)
{
    hop_by_hop rule;
    for (const header& h : headers)
        rule.add(h.first, h.second);
    QList<QByteArray> names;
    for (int i = 0; i < headers.size(); ++i)
        if (!rule.covers(i))
            names << headers[i].first;
    return names;
}

// The same, the plain way: lists cut up and every name in lower case.
QList<QByteArray> kept_plainly(const QList<header>& headers)
{
    QSet<QByteArray> gone { "connection", "keep-alive", "proxy-connection", "te", "trailer",
        "upgrade" };
    for (const header& h : headers)
        if (h.first.toLower() == "connection")
            for (const QByteArray& item : h.second.split(','))
                gone << item.trimmed().toLower();
    QList<QByteArray> names;
    for (const header& h : headers)
        if (!gone.contains(h.first.toLower()))
            names << h.first;
    return names;
}

// Few or many headers, few or many names listed, more of one or of the other: the same
// headers go, compared without letter case, a name the message repeats with every copy. Listed
// names of a length some header has are compared with every header up to 64 comparisons in
// all; the names past that go through a table.
TEST(HopByHop, TakesAwayWhatConnectionNamesWhateverTheCounts)
{
    struct row
    {
        const char* behaviour;
        int headers; // X-H<i>, and five more around them
        int named; // of those, the first this many are listed
        int others; // names listed that no header has
        bool others_of_a_header_length; // as long as "Connection", or longer than any header
    };
    const row rows[] = {
        { "few pairs", 4, 2, 1, true },
        { "64 pairs, the most compared pair by pair", 3, 2, 6, true },
        { "65 pairs: the last name through the table", 8, 2, 3, true },
        { "a handful of headers, names of other lengths passed over", 1, 1, 300, false },
        { "a handful of headers, thousands of names of one length", 1, 1, 3000, true },
        { "many headers, few names", 300, 3, 2, true },
        { "more headers than names", 300, 100, 50, true },
        { "more names than headers", 200, 150, 400, true },
    };
    for (const row& r : rows) {
        QByteArray named;
        QByteArray others = "X-H, X-H00"; // names of no header
        QList<header> headers { { "x-h0", "repeated" } };
        for (int i = 0; i < r.headers; ++i)
            headers << header("X-H" + QByteArray::number(i), "1");
        for (int i = 0; i < r.named; ++i)
            named += (i % 2 ? " x-h" : "X-H") + QByteArray::number(i) + ",";
        for (int i = 0; i < r.others; ++i)
            others += ",\t"
                + (r.others_of_a_header_length
                        ? "X-O" + QByteArray::number(i).rightJustified(7, '0')
                        : "X-Other-" + QByteArray::number(i) + "-name");
        headers << header("Keep-Alive", "5") << header("Connection", named + " , ")
                << header("X-H1", "repeated") << header("connection", others);
        const QList<QByteArray> expected = kept_plainly(headers);
        EXPECT_EQ(kept(headers), expected) << r.behaviour;
        EXPECT_EQ(expected.size(), r.headers - r.named + (r.named < 2 ? 1 : 0)) << r.behaviour;
    }
}

TEST(HopByHop, StandardNamesGoAndNothingElseWithoutAList)
{
    const QList<header> headers { { "Connection", "" }, { "KEEP-ALIVE", "1" },
        { "Proxy-Connection", "x" }, { "te", "trailers" }, { "Trailer", "y" }, { "Upgrade", "z" },
        { "Upgraded", "1" }, { "X-TE", "1" }, { "Connections", "1" } };
    EXPECT_EQ(kept(headers), (QList<QByteArray> { "Upgraded", "X-TE", "Connections" }));
}

} // namespace
