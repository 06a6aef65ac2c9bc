#pragma once

#include "app/dependency_container.h"
#include "router/handler_result.h"

namespace qhttp {
namespace server {
class QHttpRequest;
}
} // namespace qhttp

// "/api/access/bs" is routed but serves no method: every request to it is answered 404.
class AccessBS
{
public:
    static constexpr const char* handler_path = "/api/access/bs";
    static constexpr bool need_token = true;
    explicit AccessBS(const request_container&) { }
    HandlerResult process(qhttp::server::QHttpRequest* request);
};
