#include "json/json_document.h"

#include "json/compact_json.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// The quote that closes a string whose text starts at `at`, or `end` when none does: the first
// quote after an even run of backslashes, as a backslash takes the byte after it along.
const char* closing_quote(const char* at, const char* end)
{
    for (;;) {
        const auto* quote = static_cast<const char*>(std::memchr(at, '"', size_t(end - at)));
        if (!quote)
            return end;
        const char* run = quote;
        while (run > at && run[-1] == '\\')
            --run;
        if ((quote - run) % 2 == 0)
            return quote;
        at = quote + 1;
    }
}

// Whether no object of the text repeats a key, as a quick look that allocates nothing tells:
// each key plain (no escape, which spells one key more than one way, and no NUL byte, past
// which Qt compares no further) and unlike every other key of its object, byte for byte. What
// it cannot tell at a glance (many keys open at once, objects nested deep, text that is no
// JSON) it answers no to, for the reader that knows.
bool keys_plainly_distinct(const QByteArray& text)
{
    // Room for the messages and requests of every day.
    constexpr int most_keys = 64; // of the objects open around one point
    constexpr int most_depth = 16;
    struct key
    {
        const char* begin;
        qsizetype size;
    };
    key keys[most_keys];
    int firsts[most_depth]; // where the keys of each open object start in `keys`
    int depth = 0;
    int count = 0;
    // Keys of one length that share a long start would cost up to 63 times their bytes to
    // tell apart: past the text's own size in compared bytes, the reader answers instead.
    qsizetype compare_budget = text.size();
    const char* at = text.constData();
    const char* const end = at + text.size();
    // Arrays need no count: in text Qt reads, whole or up to its error, a key belongs to the
    // innermost open object.
    for (; at < end; ++at) {
        if (*at == '{') {
            if (depth == most_depth)
                return false;
            firsts[depth++] = count;
        } else if (*at == '}') {
            if (depth == 0)
                return false;
            count = firsts[--depth];
        } else if (*at == '"') {
            const char* const begin = at + 1;
            at = closing_quote(begin, end);
            if (at == end)
                return false;
            const char* after = at + 1;
            while (after < end && is_json_space(*after))
                ++after;
            if (after == end || *after != ':')
                continue; // a value
            const qsizetype size = at - begin;
            if (depth == 0 || count == most_keys
                || !std::all_of(begin, at, [](char c) { return c != '\\' && c != 0; }))
                return false;
            for (int i = firsts[depth - 1]; i < count; ++i) {
                if (keys[i].size != size)
                    continue;
                if ((compare_budget -= size) < 0
                    || std::memcmp(keys[i].begin, begin, size_t(size)) == 0)
                    return false;
            }
            keys[count++] = { begin, size };
        }
    }
    return true;
}

// The text with each array or object Qt would drop written over by a zero and white space: Qt
// then reads the same members and meets any error at the same offset, and what it drops owns no
// memory.
QByteArray with_dropped_values_blanked(const QByteArray& text)
{
    std::vector<quint32> dropped = dropped_json_values(text);
    if (dropped.empty())
        return text;
    // Outer values first: the values dropped inside one are blank by the time they come.
    std::sort(dropped.begin(), dropped.end());
    QByteArray blanked = text;
    char* const data = blanked.data();
    for (const quint32 at : dropped) {
        if (data[at] != '[' && data[at] != '{')
            continue;
        const char* const end = json_value_end(data + at);
        data[at] = '0';
        std::memset(data + at + 1, ' ', size_t(end - data - at - 1));
    }
    return blanked;
}

} // namespace

QJsonDocument read_json_document(const QByteArray& text, QJsonParseError* error)
{
    if (keys_plainly_distinct(text))
        return QJsonDocument::fromJson(text, error);
    return QJsonDocument::fromJson(with_dropped_values_blanked(text), error);
}
