#pragma once

#include <exception>

class http_exception;
class logger;

namespace qhttp {
namespace server {
class QHttpResponse;
}
} // namespace qhttp

// The one mapping of a request-road failure to its answer: {"What": message} with the
// exception's status (307 with its "location" first), 400 for a Redis failure or anything else.
void answer_failure(
    qhttp::server::QHttpResponse* response, logger& log, const std::exception_ptr& failure);
// The same answer for an http_exception that was never thrown.
void answer_failure(
    qhttp::server::QHttpResponse* response, logger& log, const http_exception& failure);
