#pragma once

#include <QString>
#include <QUrl>

// The two texts the road needs of a request URL.
struct url_texts
{
    QString text; // Qt's default form (QUrl::toString()), as the statistics and the log show it
    QString path; // the path fully decoded, as the route table matches it
};

// Both texts; for a URL that is a plain path, the usual case, one text serves as both.
url_texts texts_of(const QUrl& url);
