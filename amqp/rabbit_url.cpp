#include "amqp/rabbit_url.h"

#include <amqp.h>

bool parse_rabbit_url(const QString& url, const QString& vhost, rabbit_endpoint* out)
{
    // amqp_parse_url cuts the text it is given into pieces, so it works on a private copy.
    QByteArray copy = url.toUtf8();
    copy.detach();
    amqp_connection_info info;
    if (amqp_parse_url(copy.data(), &info) != AMQP_STATUS_OK)
        return false;
    out->host = info.host;
    out->port = info.port;
    out->user = info.user;
    out->password = info.password;
    out->vhost = vhost.isEmpty() ? QByteArray(info.vhost) : vhost.toUtf8();
    out->ssl = info.ssl != 0;
    return !out->host.isEmpty();
}

QString mask_url_password(const QString& url)
{
    const int scheme = url.indexOf(QLatin1String("://"));
    const int start = scheme < 0 ? 0 : scheme + 3;
    // The last "@" ends the user part; a vhost with a bare "@" only masks more than needed.
    const int at = url.lastIndexOf(QLatin1Char('@'));
    if (at < start)
        return url;
    const int colon = url.indexOf(QLatin1Char(':'), start);
    if (colon < 0 || colon > at)
        return url;
    return url.left(colon + 1) + QLatin1String("***") + url.mid(at);
}
