#pragma once

#include "http/qhttp_server.h"

// Answers a method the handler does not serve: 404 with an empty message for DELETE,
// 404 "method not found" for any other method.
[[noreturn]] void throw_method_not_found(int method);

[[noreturn]] inline void throw_method_not_found(const qhttp::server::QHttpRequest* request)
{
    throw_method_not_found(static_cast<int>(request->method()));
}
