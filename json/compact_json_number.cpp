#include "json/compact_json_number.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

const char* skip_digits(const char* at, const char* end)
{
    while (at < end && is_digit(*at))
        ++at;
    return at;
}

constexpr double two_to_63 = 9223372036854775808.0;
constexpr double two_to_64 = 18446744073709551616.0;

// Writes the decimal digits of `value`, most significant first, ending at `end`; returns
// where they start.
char* put_unsigned(char* end, quint64 value)
{
    do {
        *--end = char('0' + value % 10);
        value /= 10;
    } while (value);
    return end;
}

// Qt's 'f' and 'g' forms at its shortest precision (QLocaleData::doubleToString): the digits
// are the shortest that read back to `value`, without trailing zeros; `point` is where the
// decimal point falls among them.
int format_double(double value, bool whole, char* out)
{
    char scientific[32];
    const auto written = std::to_chars(scientific, scientific + sizeof scientific, std::fabs(value),
        std::chars_format::scientific);
    char digits[20];
    int count = 0;
    const char* at = scientific;
    for (; *at != 'e'; ++at) {
        if (*at != '.')
            digits[count++] = *at;
    }
    int exponent = 0;
    const bool negative_exponent = at[1] == '-';
    for (at += 2; at < written.ptr; ++at)
        exponent = exponent * 10 + (*at - '0');
    if (negative_exponent)
        exponent = -exponent;
    while (count > 1 && digits[count - 1] == '0')
        --count;
    const int point = exponent + 1;

    char* put = out;
    if (value < 0)
        *put++ = '-';
    bool exponent_form = false;
    if (!whole) {
        // Which of the two forms is shorter, as Qt estimates it.
        int cutoff = 6;
        if (point > 0) {
            cutoff = count + 4 + (point <= 10 ? 1 : point > 100 ? 2 : 1);
            if (count > point)
                ++cutoff;
        }
        exponent_form = point != count && (point <= -4 || point > cutoff);
    }
    if (exponent_form) {
        *put++ = digits[0];
        if (count > 1) {
            *put++ = '.';
            std::memcpy(put, digits + 1, size_t(count - 1));
            put += count - 1;
        }
        *put++ = 'e';
        *put++ = exponent < 0 ? '-' : '+';
        const int magnitude = exponent < 0 ? -exponent : exponent;
        if (magnitude < 10)
            *put++ = '0';
        char text[8];
        char* first = put_unsigned(text + sizeof text, quint64(magnitude));
        const size_t size = size_t(text + sizeof text - first);
        std::memcpy(put, first, size);
        put += size;
    } else if (point <= 0) {
        *put++ = '0';
        *put++ = '.';
        for (int i = point; i < 0; ++i)
            *put++ = '0';
        std::memcpy(put, digits, size_t(count));
        put += count;
    } else if (point >= count) {
        std::memcpy(put, digits, size_t(count));
        put += count;
        for (int i = count; i < point; ++i)
            *put++ = '0';
    } else {
        std::memcpy(put, digits, size_t(point));
        put += point;
        *put++ = '.';
        std::memcpy(put, digits + point, size_t(count - point));
        put += count - point;
    }
    return int(put - out);
}

} // namespace

const char* scan_json_number(const char* begin, const char* end)
{
    const char* at = begin;
    if (at < end && *at == '-')
        ++at;
    if (at < end && *at == '0')
        ++at;
    else
        at = skip_digits(at, end);
    if (at < end && *at == '.')
        at = skip_digits(at + 1, end);
    if (at < end && (*at == 'e' || *at == 'E')) {
        ++at;
        if (at < end && (*at == '-' || *at == '+'))
            ++at;
        at = skip_digits(at, end);
    }
    return at;
}

json_number read_json_number(const char* begin, const char* end)
{
    json_number number;
    const bool negative = begin < end && *begin == '-';
    const char* integral = begin + (negative ? 1 : 0);
    const char* at = skip_digits(integral, end);
    if (at == end && at > integral) {
        // A whole decimal number, read as QByteArray::toLongLong reads it.
        const quint64 limit = negative ? quint64(1) << 63 : (quint64(1) << 63) - 1;
        quint64 value = 0;
        bool fits = true;
        for (const char* digit = integral; digit < at && fits; ++digit) {
            const quint64 d = quint64(*digit - '0');
            fits = value <= (limit - d) / 10;
            value = value * 10 + d;
        }
        if (fits) {
            number.kind = json_number::integer;
            number.whole = negative ? qint64(0 - value) : qint64(value);
            return number;
        }
    }

    // Otherwise QByteArray::toDouble decides. Within the characters the scan takes, what it
    // accepts is what from_chars reads whole (a digit before the exponent, a digit in it), and a
    // value out of range is what it refuses: an overflow, or non-zero digits that round to zero.
    double value = 0;
    const auto read = std::from_chars(begin, end, value);
    if (read.ec != std::errc() || read.ptr != end)
        return number;

    // Qt keeps a double of integral value within 64 bits as an integer (-0.0 too).
    if (value >= -two_to_63 && value < two_to_63 && double(qint64(value)) == value) {
        number.kind = json_number::integer;
        number.whole = qint64(value);
    } else {
        number.kind = json_number::real;
        number.fraction = value;
    }
    return number;
}

char* put_json_whole(char* end, qint64 value)
{
    // Through an unsigned magnitude, which also holds the least qint64.
    char* first = put_unsigned(end, value < 0 ? 0u - quint64(value) : quint64(value));
    if (value < 0)
        *--first = '-';
    return first;
}

void put_json_number(staged_bytes& out, const json_number& number)
{
    char text[48];
    if (number.kind == json_number::integer && number.whole > -(qint64(1) << 53)
        && number.whole < (qint64(1) << 53)) {
        // Exact in a double, so its shortest digits are its own.
        const char* first = put_json_whole(text + sizeof text, number.whole);
        out.put(first, int(text + sizeof text - first));
        return;
    }
    const double value = number.value();
    const double magnitude = std::fabs(value);
    const bool whole = magnitude < two_to_64 && double(quint64(magnitude)) == magnitude;
    out.put(text, format_double(value, whole, text));
}
