#pragma once

#include "json/json_string_escape.h"

#include <QByteArray>
#include <QtGlobal>

// A number as QJsonDocument::fromJson keeps it: a 64-bit integer when its text is a decimal
// integer in range, or when it reads as a double of integral value in range (so -0.0 is the
// integer 0); a double otherwise. Text Qt refuses (no digit, an exponent without digits, a
// value that overflows, or that underflows to zero from non-zero digits) is illegal.
struct json_number
{
    enum kind_t : quint8 { illegal, integer, real };

    kind_t kind = illegal;
    qint64 whole = 0;
    double fraction = 0; // the value when kind is real

    // The value the writer formats: an integer goes through double, as Qt's writer does.
    double value() const { return kind == integer ? double(whole) : fraction; }
};

// The end of the number text that starts at `begin`, as far as Qt's parser takes it:
// [-] (0 | digits) [. digits] [(e|E) [+|-] digits], every digit run possibly empty.
const char* scan_json_number(const char* begin, const char* end);

// The number whose text (as scan_json_number delimits it) is [begin, end).
json_number read_json_number(const char* begin, const char* end);

// Writes a whole number as Qt's writer writes one exact in a double: its decimal digits, a
// minus sign before them when negative. They end at `end`; returns where they start (at most
// 20 bytes before it).
char* put_json_whole(char* end, qint64 value);

// Puts `number` (not illegal) as QJsonDocument::toJson writes it: the shortest digits that
// read back to the same double, as a whole number without exponent when the value is integral
// and below 2^64 in magnitude, in printf's %g manner (exponent of at least two digits)
// otherwise.
void put_json_number(staged_bytes& out, const json_number& number);
