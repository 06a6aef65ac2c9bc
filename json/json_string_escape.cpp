#include "json/json_string_escape.h"

namespace {

char hex_digit(uint value)
{
    return char(value < 10 ? '0' + value : 'a' + value - 10);
}

} // namespace

void put_json_unit_escape(staged_bytes& out, char16_t unit)
{
    out.put('\\');
    out.put('u');
    for (int shift = 12; shift >= 0; shift -= 4)
        out.put(hex_digit((unit >> shift) & 0xf));
}

void put_json_ascii_escape(staged_bytes& out, char16_t unit)
{
    out.put('\\');
    switch (unit) {
    case '"':
        out.put('"');
        break;
    case '\\':
        out.put('\\');
        break;
    case 0x8:
        out.put('b');
        break;
    case 0xc:
        out.put('f');
        break;
    case 0xa:
        out.put('n');
        break;
    case 0xd:
        out.put('r');
        break;
    case 0x9:
        out.put('t');
        break;
    default:
        out.put('u');
        out.put('0');
        out.put('0');
        out.put(hex_digit(unit >> 4));
        out.put(hex_digit(unit & 0xf));
    }
}
