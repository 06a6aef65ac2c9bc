#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <cstddef>

// Hashes under a secret drawn at start (SipHash-1-3, 128-bit key), for tables whose keys a
// caller chooses: modem ids, header names, tokens. Qt 5's own hashes are a CRC-32C where the CPU
// has the instruction (their collisions do not depend on the seed) and an unseeded 31*h+c
// elsewhere; either way a caller can make thousands of keys share one bucket, and each insertion
// then walks all the others.
uint keyed_hash(const void* data, std::size_t size) noexcept;

// The same with the ASCII letters of `data` taken in lower case (header names).
uint keyed_hash_folding_case(const char* data, std::size_t size) noexcept;

inline uint keyed_hash(const QString& text) noexcept
{
    return keyed_hash(text.constData(), std::size_t(text.size()) * sizeof(QChar));
}

inline uint keyed_hash(const QByteArray& bytes) noexcept
{
    return keyed_hash(bytes.constData(), std::size_t(bytes.size()));
}

// A text as the key of a Qt table, hashed as above.
class keyed_text : public QString
{
public:
    keyed_text() = default;
    keyed_text(const QString& text)
        : QString(text)
    { }
};

// The table's own seed adds nothing to the secret.
inline uint qHash(const keyed_text& key, uint = 0) noexcept
{
    return keyed_hash(static_cast<const QString&>(key));
}
