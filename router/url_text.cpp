#include "router/url_text.h"

url_texts texts_of(const QUrl& url)
{
    url_texts texts { url.toString(), QString() };
    // Without a query, fragment, scheme or authority the text is the path alone, encoded as
    // a whole URL needs; with no percent sign in it there is nothing to decode either.
    const bool path_alone = !url.hasQuery() && !url.hasFragment() && url.isRelative()
        && url.authority().isEmpty() && !texts.text.isEmpty();
    if (path_alone && !texts.text.contains(QLatin1Char('%')))
        texts.path = texts.text;
    else
        texts.path = url.path(QUrl::FullyDecoded);
    return texts;
}
