#include "qt_print.h"
#include "router/url_text.h"

#include <QUrl>
#include <gtest/gtest.h>

namespace {

void expect_texts(const QUrl& url, const std::string& what)
{
    const url_texts texts = texts_of(url);
    EXPECT_EQ(texts.text, url.toString()) << what;
    EXPECT_EQ(texts.path, url.path(QUrl::FullyDecoded)) << what;
}

// The shared text must be exactly what Qt gives for each: the statistics and the log show the
// one, the route table matches the other.
TEST(UrlTexts, AreQtsTextAndFullyDecodedPath)
{
    struct row
    {
        const char* behaviour;
        const char* path;
        const char* query; // null: none
    };
    const row rows[] = {
        { "plain path", "/api/dl_queue", nullptr },
        { "root", "/", nullptr },
        { "empty path", "", nullptr },
        { "path with query", "/iec104/api/version", "a=1&b=%20x" },
        { "empty query", "/x", "" },
        { "percent-encoded letters", "/%41%62c", nullptr },
        { "encoded slash and percent", "/a%2Fb%25c", nullptr },
        { "space and non-ASCII", "/a b/\xc3\xa4", nullptr },
        { "reserved characters", "/a;b=c,d:e@f!$&'()*+", nullptr },
        { "colon in a relative first segment: invalid, empty text", "a:b/c", nullptr },
        { "double slash without authority: invalid, empty text", "//evil/x", nullptr },
        { "encoded hash", "/a%23b", nullptr },
        { "question mark and braces", "/a?b{c}", nullptr },
        { "dot segments kept", "/a/../b/./c", nullptr },
    };
    for (const row& r : rows) {
        QUrl url;
        url.setPath(QString::fromUtf8(r.path), QUrl::TolerantMode);
        if (r.query)
            url.setQuery(QString::fromUtf8(r.query), QUrl::TolerantMode);
        expect_texts(url, r.behaviour);
    }

    // Every character, as itself and percent-encoded, in the middle of a path.
    for (int c = 1; c < 256; ++c) {
        for (const QString& middle : { QString(QChar(c)), QString::asprintf("%%%02X", c) }) {
            QUrl url;
            url.setPath(QStringLiteral("/a") + middle + QStringLiteral("b"), QUrl::TolerantMode);
            expect_texts(url, "character " + std::to_string(c));
        }
    }

    for (const char* text : { "http://host:81/p?q#f", "file:///etc/x", "//host/p", "/p#frag",
             "mailto:x@y", "http://u:pw@h/" })
        expect_texts(QUrl(QString::fromLatin1(text)), text);
}

} // namespace
