#pragma once

#include "json/json_string_escape.h"

#include <QByteArray>
#include <QJsonParseError>
#include <QString>
#include <QStringView>

// How QJsonDocument::fromJson keeps a string it has read: without an escape, as the UTF-8 bytes
// of the text; with one, as UTF-16. The form decides how Qt orders keys and how it makes the
// QString back (from UTF-8, a leading byte order mark is dropped; from UTF-16, nothing is).
enum class json_string_form : quint8 { utf8, utf16 };

// One character of UTF-8 at `at`, as Qt's decoder takes it: no overlong form, no surrogate,
// nothing past U+10FFFF. Advances `at` only when it reads one.
inline bool read_utf8_char(const char*& at, const char* end, uint& ch)
{
    const uchar lead = uchar(*at);
    if (lead < 0x80) {
        ch = lead;
        ++at;
        return true;
    }
    int size;
    uint least;
    uint code;
    if (lead <= 0xc1)
        return false;
    if (lead < 0xe0) {
        size = 2;
        least = 0x80;
        code = lead & 0x1f;
    } else if (lead < 0xf0) {
        size = 3;
        least = 0x800;
        code = lead & 0x0f;
    } else if (lead < 0xf5) {
        size = 4;
        least = 0x10000;
        code = lead & 0x07;
    } else {
        return false;
    }
    if (end - at < size)
        return false;
    for (int i = 1; i < size; ++i) {
        const uchar next = uchar(at[i]);
        if ((next & 0xc0) != 0x80)
            return false;
        code = (code << 6) | (next & 0x3f);
    }
    if (code < least || is_surrogate(code) || code > 0x10ffff)
        return false;
    ch = code;
    at += size;
    return true;
}

// Whether the text [begin, end) starts with a UTF-8 byte order mark.
bool starts_with_bom(const char* begin, const char* end);

struct json_string_read
{
    QJsonParseError::ParseError error; // NoError when the string is well formed
    // From `begin`: past the closing quote, or where Qt's parser stopped on the error (one past
    // the end of the text for a string that never closes).
    qsizetype stop;
    json_string_form form;
};

// Reads a string from just past its opening quote as Qt's parser does: any byte below 0x80
// (controls and NUL included) stands for itself, UTF-8 must be well formed in Qt's sense, and
// a backslash before a byte Qt knows no escape for stands for that byte, sign-extended as a
// char when it is 0x80 or above (Qt then stores a nonsense pair of UTF-16 units for it).
json_string_read read_json_string(const char* begin, const char* end);

// The UTF-16 code units Qt holds for a well-formed string of the text, one by one. `begin` is
// just past the opening quote, `end` at the closing one. A byte order mark is kept: the units
// are those Qt compares, not always those of the QString it gives out (json_string_text).
class json_string_units
{
public:
    json_string_units(const char* begin, const char* end)
        : at_(begin)
        , end_(end)
    { }

    bool next(char16_t& unit);
    // Where the next escape or character starts, and whether the units of the last one have
    // all been given: two strings alike from there on give the same units.
    const char* position() const { return at_; }
    bool between_chars() const { return !low_; }

private:
    const char* at_;
    const char* end_;
    char16_t low_ = 0; // the second unit of a pair already read, 0 when none
};

// The QString Qt gives for a well-formed string of the text (`begin`..`end` between the quotes).
QString json_string_text(const char* begin, const char* end, json_string_form form);

// The end of the well-formed string whose opening quote is at `quote`: its closing quote, and
// whether it holds an escape.
const char* json_string_end(const char* quote, bool& escaped);

// Puts a well-formed string of the text, quotes included, as Qt's compact writer writes the
// QString it holds for it. `quote` is its opening quote; returns past its closing quote.
const char* put_source_string(staged_bytes& out, const char* quote);
