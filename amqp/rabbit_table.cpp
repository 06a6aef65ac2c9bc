#include "amqp/rabbit_table.h"

static amqp_bytes_t view(const QByteArray& bytes)
{
    return amqp_bytes_t { size_t(bytes.size()), const_cast<char*>(bytes.constData()) };
}

rabbit_table::rabbit_table(const QHash<QString, QVariant>& values)
{
    // Two byte arrays per entry at most; reserved up front so views stay valid.
    storage_.reserve(size_t(values.size()) * 2);
    entries_.reserve(size_t(values.size()));
    for (auto it = values.begin(); it != values.end(); ++it) {
        amqp_table_entry_t entry {};
        storage_.push_back(it.key().toUtf8());
        entry.key = view(storage_.back());
        const QVariant& v = it.value();
        switch (v.userType()) {
        case QMetaType::Bool:
            entry.value.kind = AMQP_FIELD_KIND_BOOLEAN;
            entry.value.value.boolean = v.toBool();
            break;
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
            entry.value.kind = AMQP_FIELD_KIND_I64;
            entry.value.value.i64 = v.toLongLong();
            break;
        case QMetaType::Double:
            entry.value.kind = AMQP_FIELD_KIND_F64;
            entry.value.value.f64 = v.toDouble();
            break;
        default:
            storage_.push_back(v.toString().toUtf8());
            entry.value.kind = AMQP_FIELD_KIND_UTF8;
            entry.value.value.bytes = view(storage_.back());
            break;
        }
        entries_.push_back(entry);
    }
}

amqp_table_t rabbit_table::table()
{
    return amqp_table_t { int(entries_.size()), entries_.empty() ? nullptr : entries_.data() };
}
