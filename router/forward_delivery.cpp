#include "router/forward_delivery.h"

#include "app/logger.h"
#include "http/qhttp_client.h"
#include "http/qhttp_header_name.h"
#include "http/qhttp_server.h"
#include "router/hop_by_hop.h"
#include "router/latin1_text.h"
#include "router/statistics.h"

#include <QVarLengthArray>
#include <algorithm>

namespace {

using qhttp::is_header_name;

int stall_ms = 60000;

void write_forward_request(
    qhttp::client::QHttpRequest* request, const HttpForwardAsycResult& forward);

// One forward in flight; its client owns it, so it lives exactly as long as the client.
struct forward_call final : qhttp::client::client_user
{
    forward_call(const HttpForwardAsycResult& forward, const forward_context& context,
        qhttp::client::QHttpClient* client)
        : forward(forward)
        , context(context)
        , client(client)
    { }

    HttpForwardAsycResult forward;
    forward_context context;
    qhttp::client::QHttpClient* client;
    bool finished = false;

    void client_request(qhttp::client::QHttpRequest* request) override
    {
        write_forward_request(request, forward);
    }
    void client_answer_head(qhttp::client::QHttpResponse* answer) override
    {
        request_done(context.email, context.uuid, *context.statistics, *context.log);
        answer->collectData(-1);
    }
    void client_answer_end(qhttp::client::QHttpResponse* answer) override { relay(answer); }
    void client_failed(bool) override { fail(); }

    bool can_answer() const
    {
        return !context.request_gone->load() && context.response && !context.response->isDone();
    }

    // Deferred: this runs inside the client's own signals.
    void release()
    {
        finished = true;
        client->deleteLater();
    }

    void fail()
    {
        if (finished)
            return;
        if (can_answer()) {
            context.response->setStatusCode(408);
            context.response->end();
        }
        release();
    }

    void relay(qhttp::client::QHttpResponse* answer)
    {
        if (finished)
            return;
        if (can_answer()) {
            qhttp::server::QHttpResponse* response = context.response;
            // The gateway frames the body itself and decides about its own connection. The
            // headers it set before the answer came are few: the first header of the same name
            // in the answer takes the place of one, and a name the answer repeats (Set-Cookie)
            // keeps every value. No step looks at more than those few, however long the answer.
            const auto& headers = answer->headers().items();
            hop_by_hop target_own;
            for (const auto& header : headers)
                target_own.add(header.first, header.second);
            qhttp::THeaderList& out = response->headers();
            const int own = out.items().size();
            QVarLengthArray<bool, 8> replaced(own);
            std::fill(replaced.begin(), replaced.end(), false);
            int position = 0;
            for (auto it = headers.begin(); it != headers.end(); ++it, ++position) {
                const auto& header = *it;
                if (header.first == "Date" || target_own.covers(position))
                    continue;
                // A 304 carries no body; its length is that of what the client has already.
                if ((is_header_name(header.first, "content-length") && answer->status() != 304)
                    || is_header_name(header.first, "transfer-encoding"))
                    continue;
                int at = 0;
                while (at < own
                    && (replaced[at]
                        || !qhttp::same_header_name(out.items().at(at).first, header.first)))
                    ++at;
                if (at < own) {
                    out.replace(at, header.first, header.second);
                    replaced[at] = true;
                } else {
                    out.add(header.first, header.second);
                }
            }
            response->setStatusCode(answer->status());
            response->end(answer->collectedData());
        }
        release();
    }
};

// The client's agent as the target receives it: "gorvex: <agent>", or for the authorisation
// services "gorvex: <address>: <agent>", and "gorvex: <address>:" without an agent.
QByteArray marked_agent(const QString& address, const QByteArray* agent)
{
    const QByteArray text = agent ? latin1_of_utf8(*agent) : QByteArray();
    QByteArray mark;
    mark.reserve(8 + address.size() + 2 + text.size());
    mark += "gorvex: ";
    if (!address.isEmpty()) {
        for (const QChar c : address)
            mark += char(c.unicode()); // an address is written in ASCII
        mark += agent ? ": " : ":";
    }
    mark += text;
    return mark;
}

// The request the target receives: the headers as given, without those of the client's
// connection, with the agent marked, and the body whole with its own length instead of the
// client's framing. What the gateway writes of its own is written whatever the client's
// Connection header names: that only takes the client's own headers away.
void write_forward_request(
    qhttp::client::QHttpRequest* request, const HttpForwardAsycResult& forward)
{
    bool framed = !forward.body.isEmpty();
    bool agent_written = false;
    hop_by_hop client_own;
    for (auto it = forward.headers.begin(); it != forward.headers.end(); ++it)
        client_own.add(it.key(), it.value());
    int position = 0;
    for (auto it = forward.headers.begin(); it != forward.headers.end(); ++it, ++position) {
        if (is_header_name(it.key(), "content-length")
            || is_header_name(it.key(), "transfer-encoding")) {
            framed = true;
            continue;
        }
        // The body is sent whole, so the target has nothing to confirm; and the connection to
        // the target is the client layer's.
        if (is_header_name(it.key(), "expect") || client_own.covers(position))
            continue;
        if (is_header_name(it.key(), "user-agent")) {
            request->addHeader(it.key(), marked_agent(forward.client_address, &it.value()));
            agent_written = true;
        } else {
            request->addHeader(it.key(), it.value());
        }
    }
    if (!agent_written && !forward.client_address.isEmpty())
        request->addHeader("user-agent", marked_agent(forward.client_address, nullptr));
    if (framed)
        request->addHeader("content-length", QByteArray::number(forward.body.size()));
    request->end(forward.body);
}

} // namespace

void set_forward_stall_ms(int ms)
{
    if (ms > 0)
        stall_ms = ms;
}

void start_forward(const HttpForwardAsycResult& forward, const forward_context& context)
{
    auto* client = new qhttp::client::QHttpClient(context.parent);
    client->setConnectingTimeOut(1000);
    client->setProgressTimeOut(quint32(stall_ms));
    // An answer is held whole before it is relayed: it may be no larger than a request body.
    client->setAnswerLimit(qhttp::server_limits().max_body_bytes);
    auto owned = std::make_unique<forward_call>(forward, context, client);
    forward_call* call = owned.get();

    // A target that never answers must not keep its client once nobody waits for the answer.
    if (context.request) {
        QObject::connect(
            context.request, &QObject::destroyed, client,
            [call] {
                if (!call->finished)
                    call->release();
            },
            Qt::DirectConnection);
    }

    QUrl url = forward.url;
    if (url.scheme().isEmpty())
        url.setScheme(QStringLiteral("http"));
    if (!client->request(qhttp::THttpMethod(forward.method), url, std::move(owned)))
        call->fail();
}
