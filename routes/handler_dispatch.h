#pragma once

// The frame every handler plugs into. A handler class is data plus its operations:
//
//   class RebootHandler : public std::enable_shared_from_this<RebootHandler> {  // if it needs it
//   public:
//       static constexpr const char* handler_path = "/gateway/reboot"; // or: static QString
//                                                                       // handler_path()
//       static constexpr bool need_token = true;
//       static constexpr std::array<const char*, 2> param_keys { "id", "route_key" }; // optional
//       using ApiParams = api_params;                                   // optional, the default
//       explicit RebootHandler(const request_container& container);
//       HandlerResult get(const ApiParams& params);                     // optional
//       HandlerResult post(const ApiParams& params);                    // optional
//   };
//
// A handler with a parameter record of its own declares `ApiParams` and
// `ApiParams parse_request(qhttp::server::QHttpRequest*)`; one that answers every method
// itself (the forwards) declares `HandlerResult process(qhttp::server::QHttpRequest*)` instead
// of get/post. Everything else (token rules, statistics, errors, delivery) is the router's.

#include "app/dependency_container.h"
#include "app/logger.h"
#include "http/qhttp_server.h"
#include "router/handler_result.h"
#include "router/http_exception.h"
#include "router/method_not_found.h"
#include "routes/api_params.h"

#include <QString>
#include <QStringList>
#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <type_traits>
#include <typeinfo>
#include <utility>

namespace handler_traits {

template <class H, class = void>
struct has_param_keys : std::false_type
{ };
template <class H>
struct has_param_keys<H, std::void_t<decltype(H::param_keys)>> : std::true_type
{ };

template <class H, class = void>
struct params_of
{
    using type = api_params;
};
template <class H>
struct params_of<H, std::void_t<typename H::ApiParams>>
{
    using type = typename H::ApiParams;
};
template <class H>
using params_t = typename params_of<H>::type;

template <class H, class = void>
struct has_parse_request : std::false_type
{ };
template <class H>
struct has_parse_request<H,
    std::void_t<decltype(std::declval<H&>().parse_request(
        std::declval<qhttp::server::QHttpRequest*>()))>> : std::true_type
{ };

template <class H, class = void>
struct has_get : std::false_type
{ };
template <class H>
struct has_get<H, std::void_t<decltype(std::declval<H&>().get(std::declval<const params_t<H>&>()))>>
    : std::true_type
{ };

template <class H, class = void>
struct has_post : std::false_type
{ };
template <class H>
struct has_post<H,
    std::void_t<decltype(std::declval<H&>().post(std::declval<const params_t<H>&>()))>>
    : std::true_type
{ };

template <class H, class = void>
struct has_own_process : std::false_type
{ };
template <class H>
struct has_own_process<H,
    std::void_t<decltype(std::declval<H&>().process(std::declval<qhttp::server::QHttpRequest*>()))>>
    : std::true_type
{ };

template <class H, class = void>
struct path_is_function : std::false_type
{ };
template <class H>
struct path_is_function<H, std::void_t<decltype(H::handler_path())>> : std::true_type
{ };

} // namespace handler_traits

template <class H>
QString handler_path_of()
{
    if constexpr (handler_traits::path_is_function<H>::value)
        return H::handler_path();
    else
        return QString::fromLatin1(H::handler_path);
}

// A class's parameter keys as texts, made once per class.
template <class H>
const QStringList& handler_keys()
{
    static const QStringList keys = [] {
        QStringList list;
        if constexpr (handler_traits::has_param_keys<H>::value) {
            for (const char* key : H::param_keys)
                list << QString::fromLatin1(key);
        }
        return list;
    }();
    return keys;
}

template <class H>
handler_traits::params_t<H> parse_params(H& handler, qhttp::server::QHttpRequest* request)
{
    if constexpr (handler_traits::has_parse_request<H>::value)
        return handler.parse_request(request);
    else
        return handler_traits::params_t<H>(api_params(handler_keys<H>(), *request));
}

// The method dispatch of one handler class: GET calls `get`, POST `post`; PUT and the unserved
// of the two answer 404 with an empty message, DELETE too, anything else "method not found".
template <class H>
HandlerResult process(H& handler, qhttp::server::QHttpRequest* request)
{
    if constexpr (handler_traits::has_own_process<H>::value) {
        return handler.process(request);
    } else {
        switch (request->method()) {
        case qhttp::EHTTP_GET:
            if constexpr (handler_traits::has_get<H>::value)
                return handler.get(parse_params(handler, request));
            break;
        case qhttp::EHTTP_POST:
            if constexpr (handler_traits::has_post<H>::value)
                return handler.post(parse_params(handler, request));
            break;
        case qhttp::EHTTP_PUT:
            break;
        default:
            throw_method_not_found(request);
        }
        throw http_exception(QString(), 404);
    }
}

// Builds the handler for this one request under shared ownership, logs the call and runs it.
template <class H, class RequestContainer>
HandlerResult invoke_handler(
    qhttp::server::QHttpRequest* request, logger& log, const RequestContainer& container)
{
    const auto handler = std::make_shared<H>(container);
    log_line(log, LOG_DEBUG) << "Invoke method: " << typeid(H).name() << " "
                             << static_cast<int>(request->method());
    return process(*handler, request);
}

// The refusal of a path that no handler of the set takes; made once, as it is the commonest.
inline const http_exception& handler_not_found()
{
    static const http_exception refusal(QStringLiteral("handler not found"), 404);
    return refusal;
}

// The handler a request path picked.
struct route_match
{
    std::size_t index = 0;
    QString handler_path;
    bool need_token = true;
};

// One handler list, in match order: the first handler whose path is a prefix of the request
// path (case-sensitive, nothing more) takes the request.
template <class... Handlers>
struct handler_set
{
    static constexpr std::size_t size = sizeof...(Handlers);

    static const QStringList& paths()
    {
        static const QStringList list { handler_path_of<Handlers>()... };
        return list;
    }

    // The handler for `path`; none when no prefix matches.
    static std::optional<route_match> find_handler(const QString& path)
    {
        static constexpr std::array<bool, size> tokens { Handlers::need_token... };
        const QStringList& list = paths();
        // Every path begins with "/", so the character after it tells most handlers apart at
        // the cost of one comparison each; only those that agree on it are compared whole.
        static const std::array<QChar, size> seconds = [&list] {
            std::array<QChar, size> chars {};
            for (std::size_t i = 0; i < size; ++i)
                chars[i] = list[int(i)].size() > 1 ? list[int(i)].at(1) : QChar();
            return chars;
        }();
        const QChar second = path.size() > 1 ? path.at(1) : QChar();
        for (std::size_t i = 0; i < size; ++i) {
            const QString& candidate = list[int(i)];
            if (candidate.size() > 1 && seconds[i] != second)
                continue;
            if (path.startsWith(candidate))
                return route_match { i, candidate, tokens[i] };
        }
        return std::nullopt;
    }

    static route_match match_handler(const QString& path)
    {
        if (std::optional<route_match> match = find_handler(path))
            return *match;
        throw handler_not_found();
    }

    template <class RequestContainer>
    static HandlerResult invoke_handler(std::size_t index, qhttp::server::QHttpRequest* request,
        logger& log, const RequestContainer& container)
    {
        using invoker
            = HandlerResult (*)(qhttp::server::QHttpRequest*, logger&, const RequestContainer&);
        static constexpr std::array<invoker, size> table {
            &::invoke_handler<Handlers, RequestContainer>...
        };
        return table[index](request, log, container);
    }
};
