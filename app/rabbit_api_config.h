#pragma once

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>

// Queue declare option flags, in the numbering the configuration uses.
enum rabbit_queue_option : int { QUEUE_DURABLE = 2, QUEUE_AUTO_DELETE = 8 };

// Settings of one AMQP link.
struct rabbit_api_config
{
    QString url; // R_LOGIN
    QString queue; // R_QUEUE
    QString vhost; // R_VHOST
    QList<QPair<QString, QString>> bindings; // R_BINDINGS: (exchange, routing key)
    int queue_options = 0; // QUEUE_AUTO_DELETE or QUEUE_DURABLE
    int prefetch = 0; // R_PREFETCH
    QHash<QString, QVariant> declare_arguments; // always empty
    QString exchange; // R_EXCHANGE
    QStringList skipped_bindings; // R_BINDINGS parts without ":", left out; for the link to report
};
