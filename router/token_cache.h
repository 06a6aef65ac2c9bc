#pragma once

#include "router/http_context.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <list>
#include <mutex>
#include <optional>

// Verified tokens by (token text, SIGN_KEY). Verifying a token costs an HMAC, and for a signed
// one three Base64 decodings and three JSON parses, and a client sends the same token with every
// request; what verification makes of a token depends on nothing but these two texts, so a
// remembered result is the result. Bad signatures are remembered as bad alike, so a bad token
// sent again costs a look-up, not an HMAC. Bounded both in entries and in the token text kept;
// the least recently used entry goes first. The tokens are the callers' to choose, so they are
// filed under the secret hash (app/keyed_hash.h).
class token_cache
{
public:
    struct limits
    {
        int max_entries = 4096;
        qint64 max_text_bytes = 4 * 1024 * 1024; // tokens and keys kept, in bytes
        int max_token_bytes = 16 * 1024; // longer tokens are verified every time
    };

    token_cache();
    explicit token_cache(const limits& limits);

    // The context remembered for the token under this key.
    std::optional<HttpContext> find(const QByteArray& token, const QString& sign_key);
    // Remembers what verifying the token under this key gave.
    void insert(const QByteArray& token, const QString& sign_key, const HttpContext& context);

    int size() const;
    qint64 text_bytes() const;

    // The cache the request road shares.
    static token_cache& shared();

    // The hash a token is filed under with this key.
    static uint hash_of(const QByteArray& token, const QString& sign_key) noexcept;

private:
    struct key
    {
        key(const QByteArray& token, const QString& sign_key)
            : token(token)
            , sign_key(sign_key)
            , hash(hash_of(token, sign_key))
        { }
        bool operator==(const key& other) const
        {
            return hash == other.hash && token == other.token && sign_key == other.sign_key;
        }

        QByteArray token;
        QString sign_key;
        uint hash; // taken once: a token may be 16 KiB, and the table asks more than once
    };
    // The table's own seed adds nothing to the secret.
    friend uint qHash(const key& k, uint) noexcept { return k.hash; }
    struct entry
    {
        key id;
        HttpContext context;
    };
    using entry_list = std::list<entry>;

    static qint64 cost(const QByteArray& token, const QString& sign_key)
    {
        return token.size() + qint64(sign_key.size()) * 2;
    }
    void evict_over(int entries, qint64 bytes);

    const limits limits_;
    mutable std::mutex mutex_;
    entry_list entries_; // most recently used first
    QHash<key, entry_list::iterator> index_;
    qint64 text_bytes_ = 0;
};
