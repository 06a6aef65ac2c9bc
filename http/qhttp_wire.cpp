#include "http/qhttp_wire.h"

#include "http/qhttp_header_name.h"

#include <http_parser.h>

#include <cstring>

namespace qhttp {
namespace wire {

namespace {

bool is_content_length(const QByteArray& name)
{
    return is_header_name(name, "content-length");
}
bool is_transfer_encoding(const QByteArray& name)
{
    return is_header_name(name, "transfer-encoding");
}
bool is_connection(const QByteArray& name)
{
    return is_header_name(name, "connection");
}

// Writes into a buffer sized beforehand, so an answer costs one allocation and no growth.
class writer
{
public:
    // `most`: an upper bound of what will be written.
    explicit writer(int most)
    {
        out_.resize(most);
        p_ = out_.data();
    }
    void put(const char* data, int size)
    {
        std::memcpy(p_, data, size_t(size));
        p_ += size;
    }
    void put(const QByteArray& bytes) { put(bytes.constData(), bytes.size()); }
    void put(char c) { *p_++ = c; }
    // CR and LF become blanks, so that no header can be smuggled in.
    void put_clean(const QByteArray& bytes)
    {
        char* start = p_;
        put(bytes);
        const size_t size = size_t(p_ - start);
        if (!std::memchr(start, '\r', size) && !std::memchr(start, '\n', size))
            return; // as good as always
        for (char* c = start; c != p_; ++c)
            if (*c == '\r' || *c == '\n')
                *c = ' ';
    }
    void put_number(qint64 value)
    {
        char digits[24];
        int n = 0;
        quint64 v = value < 0 ? quint64(-value) : quint64(value);
        do {
            digits[n++] = char('0' + v % 10);
            v /= 10;
        } while (v);
        if (value < 0)
            put('-');
        while (n)
            put(digits[--n]);
    }
    void put_header(const QByteArray& name, const QByteArray& value)
    {
        put_clean(name);
        put(": ", 2);
        put_clean(value);
        put("\r\n", 2);
    }
    void put_length(const QByteArray& name, qint64 length)
    {
        put_clean(name);
        put(": ", 2);
        put_number(length);
        put("\r\n", 2);
    }
    QByteArray take()
    {
        out_.truncate(int(p_ - out_.constData()));
        return std::move(out_);
    }

private:
    QByteArray out_;
    char* p_;
};

// Room for the fixed parts of a head: its first line's own words, numbers and the layer's own
// headers (Content-Length, Connection, Host).
constexpr int fixed_head_bytes = 160;

int headers_size(const THeaderList& headers)
{
    int size = 0;
    for (const auto& h : headers.items())
        size += h.first.size() + h.second.size() + 4;
    return size;
}

// What a message says of its length.
constexpr qint64 no_length = -1; // nothing
constexpr qint64 length_as_given = -2; // the caller's own Content-Length, as given, if any

// Writes the headers with the layer's own framing: the body always goes out whole, so any
// Transfer-Encoding is dropped and a given Content-Length is made to tell `length`, the real
// size, in its place. Returns whether a length was written; one of the two above writes none
// of the layer's own.
template <class Seen>
bool put_framed_headers(writer& out, const THeaderList& headers, qint64 length, Seen seen)
{
    bool length_written = length < 0;
    for (const auto& h : headers.items()) {
        if (is_content_length(h.first) && length != length_as_given) {
            if (!length_written)
                out.put_length(h.first, length);
            length_written = true;
            continue;
        }
        if (is_transfer_encoding(h.first))
            continue;
        seen(h.first);
        out.put_header(h.first, h.second);
    }
    return length_written;
}

} // namespace

QByteArray reason_phrase(int status)
{
    if (status < 100 || status > 599)
        return QByteArray();
    const char* text = http_status_str(static_cast<enum http_status>(status));
    if (!text || text[0] == '<')
        return QByteArray();
    return QByteArray::fromRawData(text, int(std::strlen(text)));
}

bool chunked_alone(const THeaderList& headers)
{
    int codings = 0;
    bool chunked = false;
    for (const auto& h : headers.items()) {
        if (is_transfer_encoding(h.first)) {
            ++codings;
            chunked = h.second.compare("chunked", Qt::CaseInsensitive) == 0;
        }
    }
    return codings == 1 && chunked;
}

QUrl request_url(const QByteArray& target)
{
    QByteArray path = target;
    QByteArray query;
    bool has_query = false;
    if (!target.startsWith('/') && target != "*") {
        http_parser_url parts;
        http_parser_url_init(&parts);
        if (http_parser_parse_url(target.constData(), size_t(target.size()), 0, &parts) == 0) {
            const auto field = [&](int f) {
                return (parts.field_set & (1 << f))
                    ? target.mid(parts.field_data[f].off, parts.field_data[f].len)
                    : QByteArray();
            };
            path = field(UF_PATH);
            query = field(UF_QUERY);
            has_query = parts.field_set & (1 << UF_QUERY);
        }
    } else {
        const int mark = target.indexOf('?');
        if (mark >= 0) {
            path = target.left(mark);
            query = target.mid(mark + 1);
            has_query = true;
        }
        const int fragment = (has_query ? query : path).indexOf('#');
        if (fragment >= 0)
            (has_query ? query : path).truncate(fragment);
    }
    QUrl url;
    url.setPath(QString::fromUtf8(path), QUrl::TolerantMode);
    if (has_query)
        url.setQuery(QString::fromUtf8(query), QUrl::TolerantMode);
    return url;
}

bool asks_close(const THeaderList& headers)
{
    for (const auto& h : headers.items())
        if (is_connection(h.first) && h.second.toLower().contains("close"))
            return true;
    return false;
}

QByteArray answer_bytes(int status, const THeaderList& headers, const QByteArray& body,
    bool head_request, connection_note note)
{
    const bool bodiless = (status >= 100 && status < 200) || status == 204;
    const bool no_body = head_request || bodiless || status == 304;
    // A 304's length is that of the representation it stands for, which only the caller knows.
    const qint64 length = bodiless ? no_length : status == 304 ? length_as_given : body.size();
    const QByteArray reason = reason_phrase(status);

    writer out(
        fixed_head_bytes + reason.size() + headers_size(headers) + (no_body ? 0 : body.size()));
    out.put("HTTP/1.1 ", 9);
    out.put_number(status);
    out.put(' ');
    out.put(reason);
    out.put("\r\n", 2);

    bool connection_given = false;
    if (!put_framed_headers(out, headers, length,
            [&](const QByteArray& name) { connection_given |= is_connection(name); }))
        out.put_length(QByteArrayLiteral("Content-Length"), body.size());
    if (!connection_given && note == connection_note::close)
        out.put("Connection: close\r\n", 19);
    else if (!connection_given && note == connection_note::keep_alive)
        out.put("Connection: keep-alive\r\n", 24);
    out.put("\r\n", 2);
    if (!no_body)
        out.put(body);
    return out.take();
}

QByteArray request_target(const QUrl& url)
{
    QByteArray target
        = url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
    if (!target.startsWith('/'))
        target.prepend('/');
    static const char hex[] = "0123456789ABCDEF";
    for (int i = 0; i < target.size(); ++i) {
        const uchar c = uchar(target.at(i));
        if (c > 0x20 && c < 0x7f)
            continue;
        const char escaped[3] = { '%', hex[c >> 4], hex[c & 15] };
        target.replace(i, 1, escaped, 3);
        i += 2;
    }
    return target;
}

QByteArray request_bytes(
    const QByteArray& method, const QUrl& url, const THeaderList& headers, const QByteArray& body)
{
    const QByteArray target = request_target(url);
    bool host_given = false;
    for (const auto& h : headers.items())
        host_given |= is_header_name(h.first, "host");
    QByteArray host;
    if (!host_given) {
        host = url.host(QUrl::FullyEncoded).toLatin1();
        if (host.contains(':'))
            host = '[' + host + ']';
        if (url.port() > 0 && url.port() != 80)
            host += ':' + QByteArray::number(url.port());
    }

    writer out(fixed_head_bytes + method.size() + target.size() + host.size()
        + headers_size(headers) + body.size());
    out.put(method);
    out.put(' ');
    out.put(target);
    out.put(" HTTP/1.1\r\n", 11);
    const bool length_written
        = put_framed_headers(out, headers, body.size(), [](const QByteArray&) {});
    if (!host_given)
        out.put_header(QByteArrayLiteral("Host"), host);
    if (!length_written)
        out.put_length(QByteArrayLiteral("Content-Length"), body.size());
    out.put("\r\n", 2);
    out.put(body);
    return out.take();
}

} // namespace wire
} // namespace qhttp
