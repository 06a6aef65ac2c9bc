#pragma once

#include <QByteArray>
#include <QString>

// Where and as whom one broker connection logs in.
struct rabbit_endpoint
{
    QByteArray host;
    int port = 5672;
    QByteArray user;
    QByteArray password;
    QByteArray vhost;
    bool ssl = false;
};

// Reads amqp[s]://user:password@host:port[/vhost]. A non-empty vhost replaces the one named in
// the URL. Returns false for a URL the AMQP library cannot read.
bool parse_rabbit_url(const QString& url, const QString& vhost, rabbit_endpoint* out);

// The URL with its password replaced by "***", fit for a log line.
QString mask_url_password(const QString& url);
