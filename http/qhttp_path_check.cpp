#include "http/qhttp_path_check.h"

#include "http/qhttp_hex_digit.h"

#include <http_parser.h>

namespace qhttp {

bool is_unsafe_path(const QByteArray& target)
{
    const char* p = target.constData();
    int begin = 0;
    int end = target.size();
    // Origin form ends its path at "?" or "#"; absolute form, rare, has it placed by the parser.
    if (!target.startsWith('/')) {
        http_parser_url parts;
        http_parser_url_init(&parts);
        if (http_parser_parse_url(p, size_t(end), 0, &parts) != 0
            || !(parts.field_set & (1 << UF_PATH)))
            return false;
        begin = parts.field_data[UF_PATH].off;
        end = begin + parts.field_data[UF_PATH].len;
    }
    int dots = 0; // in the segment's name so far, when it holds nothing else
    bool other = false;
    bool parameters = false; // past the segment's first ";": the rest is not its name
    for (int i = begin;; ++i) {
        const bool path_end = i == end || p[i] == '?' || p[i] == '#';
        char c = path_end ? '/' : p[i];
        if (c == '%' && i + 2 < end) {
            const int high = hex_digit(p[i + 1]);
            const int low = hex_digit(p[i + 2]);
            if (high >= 0 && low >= 0) {
                c = char(high * 16 + low);
                i += 2;
            }
        }
        if (c == '\\' || c == '\0')
            return true;
        if (c == '/') {
            if (!other && (dots == 1 || dots == 2))
                return true;
            if (path_end)
                return false;
            dots = 0;
            other = false;
            parameters = false;
        } else if (parameters || c == ';') {
            parameters = true;
        } else if (c == '.') {
            ++dots;
        } else {
            other = true;
        }
    }
}

} // namespace qhttp
