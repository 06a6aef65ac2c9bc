#pragma once

#include "app/dependency_container.h"
#include "router/handler_result.h"
#include "router/http_context.h"

namespace qhttp {
namespace server {
class QHttpRequest;
}
} // namespace qhttp

// How one forward family treats the request it hands on.
struct forward_rules
{
    enum class target { app, sessions, auth };
    target to = target::app;
    // The authorisation services get the query as received, learn the client's address through
    // the user agent, and accept PUT and DELETE.
    bool authorisation = false;
    bool forwards_delete = false;
    bool scheme_from_request = false;
};

// The common body of the handlers that answer by handing the whole request to a local HTTP
// service: method, decoded path, query, every header and the body go on unchanged.
class forward_handler
{
public:
    forward_handler(const request_container& container, forward_rules rules);

    // GET and POST are forwarded by every family; PUT only to the authorisation services;
    // DELETE also by those that accept it. Anything else is 404.
    HandlerResult process(qhttp::server::QHttpRequest* request);
    // The target URL, headers and body of the forward; the method is process()'s.
    HttpForwardAsycResult forward_url_builder(qhttp::server::QHttpRequest* request) const;

protected:
    HttpContext context_;

private:
    forward_rules rules_;
    // The target's address as the ini file gave it for this request.
    QString host_;
    int port_ = 0;
};

class ApiForwardHandler : public forward_handler
{
public:
    static constexpr const char* handler_path = "/api";
    static constexpr bool need_token = true;
    explicit ApiForwardHandler(const request_container& container);
};

class ApiTornelDriverForwardHandler : public forward_handler
{
public:
    static constexpr const char* handler_path = "/driver_tornel";
    static constexpr bool need_token = true;
    explicit ApiTornelDriverForwardHandler(const request_container& container);
};

class QOBIsenderForwardHandler : public forward_handler
{
public:
    static constexpr const char* handler_path = "/qobi_sender/api/";
    static constexpr bool need_token = true;
    explicit QOBIsenderForwardHandler(const request_container& container);
};

class IEC104ForwardHandler : public forward_handler
{
public:
    static constexpr const char* handler_path = "/iec104/api/";
    static constexpr bool need_token = true;
    explicit IEC104ForwardHandler(const request_container& container);
};

class RezavovarForwardHandler : public forward_handler
{
public:
    static constexpr const char* handler_path = "/telecom";
    static constexpr bool need_token = true;
    explicit RezavovarForwardHandler(const request_container& container);
};

class SesssionssenderForwardHandler : public forward_handler
{
public:
    static constexpr const char* handler_path = "/sessions";
    static constexpr bool need_token = true;
    explicit SesssionssenderForwardHandler(const request_container& container);
};

class SpodesToTornelForwardHandler : public forward_handler
{
public:
    static constexpr const char* handler_path = "/spodes_to_tornel/";
    static constexpr bool need_token = true;
    explicit SpodesToTornelForwardHandler(const request_container& container);
};

class AuthForwardHandler : public forward_handler
{
public:
    static constexpr const char* handler_path = "/auth";
    static constexpr bool need_token = false;
    explicit AuthForwardHandler(const request_container& container);
};

class AuthNewForwardHandler : public forward_handler
{
public:
    static constexpr const char* handler_path = "/new_auth";
    static constexpr bool need_token = false;
    explicit AuthNewForwardHandler(const request_container& container);
};
