#pragma once

#include <QByteArray>

namespace qhttp {

// A hash of a header name under the process's secret (app/keyed_hash.h), folding ASCII letter
// case: header names are the client's to choose.
uint header_name_hash(const char* data, int size) noexcept;

// The name of a request header as a table key, hashed as above.
class header_key : public QByteArray
{
public:
    using QByteArray::QByteArray;
    header_key() = default;
    header_key(const QByteArray& name)
        : QByteArray(name)
    { }
    header_key(QByteArray&& name) noexcept
        : QByteArray(std::move(name))
    { }
};

// The table's own seed adds nothing to the secret.
inline uint qHash(const header_key& key, uint = 0) noexcept
{
    return header_name_hash(key.constData(), key.size());
}

} // namespace qhttp
