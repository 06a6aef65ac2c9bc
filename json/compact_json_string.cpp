#include "json/compact_json_string.h"

namespace {

// Bytes of an unescaped string: its UTF-8 is written back as it came (Qt decodes and encodes it
// again, which gives the same bytes), controls escaped.
void put_plain(staged_bytes& out, const char* at, const char* end)
{
    while (at < end) {
        const char* run = at;
        while (at < end && uchar(*at) >= 0x20)
            ++at;
        if (at > run)
            out.put(run, int(at - run));
        if (at < end)
            put_json_ascii_escape(out, char16_t(uchar(*at++)));
    }
}

// The value of a hexadecimal digit, above 15 for any other byte.
inline uint hex_digit(char c)
{
    const uint digit = uint(uchar(c)) - '0';
    if (digit < 10)
        return digit;
    const uint letter = (uint(uchar(c)) | 0x20) - 'a';
    return letter < 6 ? letter + 10 : 16;
}

// An escape at `at` (on the backslash), as Qt's parser reads it; on failure `at` is left where
// Qt's parser stops.
inline bool read_escape(const char*& at, const char* end, uint& ch)
{
    ++at;
    if (at >= end)
        return false;
    // Qt reads the byte as a char, which is signed here: a byte of 0x80 or above stands for a
    // value near 2^32.
    const uint escaped = uint(int(static_cast<signed char>(*at++)));
    // An escape of four hexadecimal digits first: a key or a text written escaped is mostly that.
    if (escaped == 'u') {
        if (end - at < 4)
            return false;
        uint value = 0;
        for (int i = 0; i < 4; ++i) {
            const uint digit = hex_digit(at[i]);
            if (digit > 15) {
                at += i;
                return false;
            }
            value = value << 4 | digit;
        }
        at += 4;
        ch = value;
        return true;
    }
    switch (escaped) {
    case 'b':
        ch = 0x8;
        return true;
    case 'f':
        ch = 0xc;
        return true;
    case 'n':
        ch = 0xa;
        return true;
    case 'r':
        ch = 0xd;
        return true;
    case 't':
        ch = 0x9;
        return true;
    default: // '"', '\\', '/' and any byte Qt knows no escape for stand for themselves
        ch = escaped;
        return true;
    }
}

} // namespace

bool starts_with_bom(const char* begin, const char* end)
{
    return end - begin >= 3 && uchar(begin[0]) == 0xef && uchar(begin[1]) == 0xbb
        && uchar(begin[2]) == 0xbf;
}

json_string_read read_json_string(const char* begin, const char* end)
{
    // Two passes, as Qt makes them: the first stops at the first backslash, the second reads the
    // escapes from the start. Which error Qt reports, and where, follows from that order.
    const char* at = begin;
    bool escaped = false;
    while (at < end) {
        if (*at == '"')
            break;
        if (*at == '\\') {
            escaped = true;
            break;
        }
        uint ch;
        if (!read_utf8_char(at, end, ch))
            return { QJsonParseError::IllegalUTF8String, at - begin, json_string_form::utf8 };
    }
    if (end - at <= 1)
        return { QJsonParseError::UnterminatedString, at - begin + 1, json_string_form::utf8 };
    if (!escaped)
        return { QJsonParseError::NoError, at - begin + 1, json_string_form::utf8 };

    at = begin;
    while (at < end) {
        if (*at == '"')
            break;
        uint ch;
        if (*at == '\\') {
            if (!read_escape(at, end, ch))
                return { QJsonParseError::IllegalEscapeSequence, at - begin,
                    json_string_form::utf16 };
        } else if (!read_utf8_char(at, end, ch)) {
            return { QJsonParseError::IllegalUTF8String, at - begin, json_string_form::utf16 };
        }
    }
    if (end - at <= 1)
        return { QJsonParseError::UnterminatedString, at - begin + 1, json_string_form::utf16 };
    return { QJsonParseError::NoError, at - begin + 1, json_string_form::utf16 };
}

bool json_string_units::next(char16_t& unit)
{
    if (low_) {
        unit = low_;
        low_ = 0;
        return true;
    }
    if (at_ >= end_)
        return false;
    uint ch = 0;
    const bool read = *at_ == '\\' ? read_escape(at_, end_, ch) : read_utf8_char(at_, end_, ch);
    if (!read) {
        // Never for a string the parser accepted; ends the units rather than looping.
        at_ = end_;
        ch = 0xfffd;
    }
    if (ch >= 0x10000) {
        // Qt's own arithmetic, which also serves the nonsense values of a backslash before a
        // byte of 0x80 or above.
        unit = char16_t((ch >> 10) + 0xd7c0);
        low_ = char16_t(ch % 0x400 + 0xdc00);
    } else {
        unit = char16_t(ch);
    }
    return true;
}

QString json_string_text(const char* begin, const char* end, json_string_form form)
{
    if (form == json_string_form::utf8)
        return QString::fromUtf8(begin, int(end - begin));
    QString text;
    text.reserve(int(end - begin));
    json_string_units units(begin, end);
    char16_t unit;
    while (units.next(unit))
        text.append(QChar(unit));
    return text;
}

const char* json_string_end(const char* quote, bool& escaped)
{
    const char* at = quote + 1;
    escaped = false;
    while (*at != '"') {
        if (*at == '\\') {
            escaped = true;
            at += 2; // the byte after a backslash never ends the string; \u digits never do
        } else {
            ++at;
        }
    }
    return at;
}

const char* put_source_string(staged_bytes& staged, const char* quote)
{
    bool escaped;
    const char* close = json_string_end(quote, escaped);
    const char* begin = quote + 1;
    staged.put('"');
    if (escaped) {
        json_string_units units(begin, close);
        put_json_units(staged, units);
    } else {
        put_plain(staged, starts_with_bom(begin, close) ? begin + 3 : begin, close);
    }
    staged.put('"');
    return close + 1;
}
