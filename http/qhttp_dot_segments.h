#pragma once

#include <QByteArray>

namespace qhttp {

// True when the path of a request target, decoded as the route table sees it (each valid %XX
// once, "%2F" a slash like "/"), holds a "." or ".." segment. Such a path would be matched
// and checked by one prefix and resolved by the target to another. Allocates nothing.
bool has_dot_segment(const QByteArray& target);

} // namespace qhttp
