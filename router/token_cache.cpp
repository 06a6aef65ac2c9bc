#include "router/token_cache.h"

#include "app/keyed_hash.h"

token_cache::token_cache()
    : token_cache(limits())
{ }

token_cache::token_cache(const limits& limits)
    : limits_(limits)
{ }

token_cache& token_cache::shared()
{
    static token_cache cache;
    return cache;
}

uint token_cache::hash_of(const QByteArray& token, const QString& sign_key) noexcept
{
    // The key is the operator's, not the caller's: a caller cannot steer the second term.
    return keyed_hash(token) ^ keyed_hash(sign_key);
}

std::optional<HttpContext> token_cache::find(const QByteArray& token, const QString& sign_key)
{
    // Never kept, so not even hashed.
    if (token.size() > limits_.max_token_bytes)
        return std::nullopt;
    std::lock_guard<std::mutex> lock(mutex_);
    // A client sends its token with request after request: the entry used last is tried before
    // the token is hashed, a comparison of bytes rather than a hash of them.
    if (!entries_.empty()) {
        const entry& last = entries_.front();
        if (last.id.token == token && last.id.sign_key == sign_key)
            return last.context;
    }
    const key id(token, sign_key);
    const auto found = index_.constFind(id);
    if (found == index_.constEnd())
        return std::nullopt;
    entries_.splice(entries_.begin(), entries_, found.value());
    return found.value()->context;
}

void token_cache::insert(
    const QByteArray& token, const QString& sign_key, const HttpContext& context)
{
    const qint64 bytes = cost(token, sign_key);
    if (token.size() > limits_.max_token_bytes || bytes > limits_.max_text_bytes)
        return;
    key id(token, sign_key);
    std::lock_guard<std::mutex> lock(mutex_);
    if (index_.contains(id))
        return;
    evict_over(limits_.max_entries - 1, limits_.max_text_bytes - bytes);
    entries_.push_front(entry { id, context });
    index_.insert(std::move(id), entries_.begin());
    text_bytes_ += bytes;
}

void token_cache::evict_over(int entries, qint64 bytes)
{
    while (!entries_.empty() && (int(entries_.size()) > entries || text_bytes_ > bytes)) {
        const entry& oldest = entries_.back();
        text_bytes_ -= cost(oldest.id.token, oldest.id.sign_key);
        index_.remove(oldest.id);
        entries_.pop_back();
    }
}

int token_cache::size() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return index_.size();
}

qint64 token_cache::text_bytes() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return text_bytes_;
}
