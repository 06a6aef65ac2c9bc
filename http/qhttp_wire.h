#pragma once

#include "http/qhttp_types.h"

#include <QByteArray>
#include <QUrl>

// Byte layout of answers and forwarded requests, kept apart from the sockets so that framing
// rules can be checked on their own.
namespace qhttp {
namespace wire {

// What the answer says about the connection beyond the caller's own headers.
enum class connection_note {
    none, // HTTP/1.1 keep-alive: nothing to say
    keep_alive, // HTTP/1.0 client that asked to keep the connection
    close, // the server closes after this answer
};

// Standard reason phrase of a status code; empty for codes that have none.
QByteArray reason_phrase(int status);

// One whole answer. The layer owns the framing: any Content-Length of the caller is replaced
// in place by the body's real length (added at the end when absent) and Transfer-Encoding is
// dropped, since the body always goes out whole. HEAD answers keep the length but carry no
// body; 1xx, 204 and 304 answers carry no body either, and of these only a 304 has a length:
// the caller's own, when it gives one. CR and LF inside names or values become blanks so that
// no header can be smuggled in.
QByteArray answer_bytes(int status, const THeaderList& headers, const QByteArray& body,
    bool head_request, connection_note note);

// True when a message's Transfer-Encoding is chunking alone: one header, "chunked". The layer
// undoes no other coding, so a body coded otherwise cannot be framed or relayed as it is.
bool chunked_alone(const THeaderList& headers);

// The URL of a request target as sent: origin form ("/path?query") keeps path and query in
// their encoded form; absolute form ("http://host/path") keeps only its path and query.
QUrl request_url(const QByteArray& target);

// True when the caller's own headers ask to close the connection.
bool asks_close(const THeaderList& headers);

// The request target of a URL: path and query in encoded form, "/" for an empty path. Any
// control byte, blank or non-ASCII byte that survived is percent-encoded.
QByteArray request_target(const QUrl& url);

// One whole request for a forward. Host is added when absent; Content-Length always tells
// the body's real length (in place of a given one, or added); Transfer-Encoding is dropped.
QByteArray request_bytes(
    const QByteArray& method, const QUrl& url, const THeaderList& headers, const QByteArray& body);

} // namespace wire
} // namespace qhttp
