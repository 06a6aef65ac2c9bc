#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVariant>
#include <amqp.h>
#include <vector>

// An AMQP field table made from a Qt hash; it owns the bytes the table points into and must
// outlive the call that sends it.
class rabbit_table
{
public:
    explicit rabbit_table(const QHash<QString, QVariant>& values);
    rabbit_table(const rabbit_table&) = delete;
    rabbit_table& operator=(const rabbit_table&) = delete;

    amqp_table_t table();

private:
    std::vector<QByteArray> storage_;
    std::vector<amqp_table_entry_t> entries_;
};
