#pragma once

#include "app/dependency_container.h"
#include "handlers/telecom/lenient_json.h"
#include "handlers/telecom/telecom_list_merges.h"
#include "http/qhttp_server.h"
#include "router/handler_result.h"
#include "router/http_exception.h"
#include "router/json_overlay.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <memory>

// Which API keys a telecom command carries to the back-end, which decides what the caller may
// see: none ("stats"), the caller's token keys appended to any it sent, or (GET "stinfo",
// "device", "bs") the caller's own "api_key" when it sent one.
enum class api_key_rule { none, append, keep_callers };

// A policy of a telecom route: its command name, its API-key rule, its reply rule with the
// rule's state, and (for the GET policy) the route's path tail and whether it is paged.
template <class ReplyRule, api_key_rule Keys = api_key_rule::append, bool Paged = false>
struct telecom_policy : ReplyRule
{
    static constexpr api_key_rule api_keys = Keys;
    static constexpr bool paged = Paged;
};

enum class telecom_backend { sersoft, uspd };

// A telecom request as its parsers read it: the parser of the method served reads it then.
struct telecom_request
{
    QUrl url;
    QByteArray body;
};

// One telecom route: the request becomes one command to every telecom back-end instance, and
// the policy's reply rule decides which reply, or which merge of replies, answers it. The
// handler lives on in its reply post-processor until the command completes or times out, as the
// rules keep their state in it; GET and POST have separate states.
template <telecom_backend Backend, class GetHandler, class PostHandler, class GetQueryParser,
    class PostQueryParser>
class telecom_command_handler : public std::enable_shared_from_this<telecom_command_handler<Backend,
                                    GetHandler, PostHandler, GetQueryParser, PostQueryParser>>
{
public:
    static constexpr bool need_token = true;
    using ApiParams = telecom_request;

    static QString handler_path()
    {
        QString path = QStringLiteral("/telecom/api/") + QLatin1String(GetHandler::tail);
        if (Backend == telecom_backend::uspd)
            path += QLatin1String("_uspd");
        return path;
    }

    explicit telecom_command_handler(const request_container& container)
        : route_key_(Backend == telecom_backend::uspd ? container.conf.R_SERSOFT_USPD_ROUTE_KEY
                                                      : container.conf.R_SERSOFT_ROUTE_KEY)
        , admin_api_key_(container.conf.ADMIN_API_KEY)
        , token_api_keys_(container.context.api_keys)
        , instances_(container.conf.SERSOFT_INST_COUNT)
        , check_api_key_(container.conf.CHECK_TOKEN_API_KEY)
    { }

    ApiParams parse_request(qhttp::server::QHttpRequest* request) const
    {
        return { request->url(), request->collectedData() };
    }

    // The parsers never fail, so that only the one of the method served needs to read.
    AsyncRabbitResult get(const ApiParams& params)
    {
        json_overlay data(GetQueryParser::parse(params.url, params.body));
        add_api_keys_of<GetHandler>(data, true);
        if constexpr (GetHandler::paged && Backend == telecom_backend::sersoft)
            page(data);
        return command<GetHandler, &telecom_command_handler::get_part_>(data);
    }

    AsyncRabbitResult post(const ApiParams& params)
    {
        json_overlay data(PostQueryParser::parse(params.url, params.body));
        add_api_keys_of<PostHandler>(data, false);
        return command<PostHandler, &telecom_command_handler::post_part_>(data);
    }

    const QJsonObject& stored_request() const { return request_; }

private:
    template <class Policy>
    void add_api_keys_of(json_overlay& data, bool is_get)
    {
        if constexpr (Policy::api_keys == api_key_rule::none)
            return;
        const QString api_key = QStringLiteral("api_key");
        if (Backend == telecom_backend::sersoft && !check_api_key_) {
            data.append_strings(api_key, QStringList { admin_api_key_ });
            return;
        }
        // The "_uspd" routes always carry the token's keys.
        const bool keep = Backend == telecom_backend::sersoft && is_get
            && Policy::api_keys == api_key_rule::keep_callers;
        if (keep && data.contains(api_key))
            return;
        data.append_strings(api_key, token_api_keys_);
    }

    // The instances share the device list out between them: each is asked for its part of a
    // page. A misread instance count below 1 asks the one for the whole page.
    void page(json_overlay& data)
    {
        const QString limit = QStringLiteral("limit");
        if (!data.contains(limit))
            return;
        const qint32 parts = std::max(instances_, 1);
        data.insert(limit,
            page_part(data.shallow_value(limit), parts,
                QStringLiteral("limit should be divisible by 32")));
        const QString offset = QStringLiteral("offset");
        if (data.contains(offset))
            data.insert(offset,
                page_part(data.shallow_value(offset), parts,
                    QStringLiteral("offset should be divisible by 32")));
    }

    static qint32 page_part(const QJsonValue& value, qint32 parts, const QString& refusal)
    {
        const qint32 n = read_int32(value);
        if ((n & 31) != 0)
            throw http_exception(refusal, 406);
        return n / parts;
    }

    // The command goes out as the text of its data; the handler keeps of it only what the reply
    // rules read, as they may wait half an hour for the last reply.
    template <class Policy, Policy telecom_command_handler::*Part>
    AsyncRabbitResult command(const json_overlay& data)
    {
        for (const char* read : telecom_reply_reads) {
            const QString key = QLatin1String(read);
            const QJsonValue value = data.shallow_value(key);
            if (!value.isUndefined())
                request_.insert(key, value);
        }
        auto self = this->shared_from_this();
        return AsyncRabbitResult { QLatin1String(Policy::command),
            command_data::ready_object(data.compact_text()), route_key_,
            [self](QJsonDocument& reply) {
                return ((*self).*Part).collect_reply(reply, self->request_, self->instances_);
            } };
    }

    QJsonObject request_;
    QString route_key_;
    QString admin_api_key_;
    QStringList token_api_keys_;
    qint32 instances_;
    bool check_api_key_;
    GetHandler get_part_;
    PostHandler post_part_;
};

// The two route classes, each named for itself so that the dispatch line names it.
template <class GetHandler, class PostHandler, class GetQueryParser, class PostQueryParser>
class CmdApiHandler : public telecom_command_handler<telecom_backend::sersoft, GetHandler,
                          PostHandler, GetQueryParser, PostQueryParser>
{
public:
    using telecom_command_handler<telecom_backend::sersoft, GetHandler, PostHandler, GetQueryParser,
        PostQueryParser>::telecom_command_handler;
};

template <class GetHandler, class PostHandler, class GetQueryParser, class PostQueryParser>
class CmdApiHandlerUSPD : public telecom_command_handler<telecom_backend::uspd, GetHandler,
                              PostHandler, GetQueryParser, PostQueryParser>
{
public:
    using telecom_command_handler<telecom_backend::uspd, GetHandler, PostHandler, GetQueryParser,
        PostQueryParser>::telecom_command_handler;
};
