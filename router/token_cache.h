#pragma once

#include "router/http_context.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <list>
#include <mutex>
#include <optional>

// Verified tokens by (token text, SIGN_KEY). Verifying a token costs an HMAC, three Base64
// decodings and three JSON parses, and a client sends the same token with every request; what
// verification makes of a token depends on nothing but these two texts, so a remembered result
// is the result. Bad signatures are remembered as bad alike. Bounded both in entries and in the
// token text kept; the least recently used entry goes first.
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

private:
    struct key
    {
        QByteArray token;
        QString sign_key;
        bool operator==(const key& other) const
        {
            return token == other.token && sign_key == other.sign_key;
        }
    };
    friend uint qHash(const key& k, uint seed) { return qHash(k.token, seed) ^ qHash(k.sign_key); }
    struct entry
    {
        key id;
        HttpContext context;
    };
    using entry_list = std::list<entry>;

    static qint64 cost(const key& k) { return k.token.size() + qint64(k.sign_key.size()) * 2; }
    void evict_over(int entries, qint64 bytes);

    const limits limits_;
    mutable std::mutex mutex_;
    entry_list entries_; // most recently used first
    QHash<key, entry_list::iterator> index_;
    qint64 text_bytes_ = 0;
};
