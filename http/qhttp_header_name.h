#pragma once

#include <QByteArray>

namespace qhttp {

// Header names compared without regard to letter case, and without lower-case copies. Names
// are tokens, ASCII only, so ASCII letter case is all there is to fold.
inline bool same_header_name(const char* a, int a_size, const char* b, int b_size)
{
    if (a_size != b_size)
        return false;
    for (int i = 0; i < a_size; ++i) {
        const char x = a[i] >= 'A' && a[i] <= 'Z' ? char(a[i] + ('a' - 'A')) : a[i];
        const char y = b[i] >= 'A' && b[i] <= 'Z' ? char(b[i] + ('a' - 'A')) : b[i];
        if (x != y)
            return false;
    }
    return true;
}

inline bool same_header_name(const QByteArray& a, const QByteArray& b)
{
    return same_header_name(a.constData(), a.size(), b.constData(), b.size());
}

// Whether the name is the one given, in lower case, as a literal.
template <int N>
bool is_header_name(const QByteArray& name, const char (&lower)[N])
{
    return same_header_name(name.constData(), name.size(), lower, N - 1);
}

} // namespace qhttp
