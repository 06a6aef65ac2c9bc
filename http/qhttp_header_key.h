#pragma once

#include <QByteArray>

namespace qhttp {

// A hash of a header name under a secret drawn at start (SipHash-1-3), folding ASCII letter
// case. Header names are the client's to choose: Qt's own byte hash is a CRC, and names made to
// share one CRC, whatever the seed, would make a table of thousands of them walk all the others
// at each step.
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
