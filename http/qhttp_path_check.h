#pragma once

#include <QByteArray>

namespace qhttp {

// True when the path of a request target, decoded as the route table sees it (each valid %XX
// once, "%2F" a slash like "/"), could be resolved by a target to a place other than the one
// its prefix was matched and checked for: a "." or ".." segment, also when parameters follow
// it after a ";" (which servlet-style targets drop before they resolve it); a backslash, which
// some targets take for a slash; a NUL, where C-based targets end the path. Allocates nothing.
bool is_unsafe_path(const QByteArray& target);

} // namespace qhttp
