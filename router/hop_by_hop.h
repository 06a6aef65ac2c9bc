#pragma once

#include <QByteArray>
#include <QVarLengthArray>

// The headers that concern one connection rather than the message: the gateway decides about
// its own connections, so none of them is relayed, in either direction. They are Connection,
// Keep-Alive, Proxy-Connection, TE, Trailer, Upgrade and every header a Connection header
// names; names compare without regard to letter case.
//
// A head may carry thousands of headers and list thousands of names, so the two are not
// compared pair by pair beyond a few pairs: the header names go into a table under a secret
// hash, and each name listed looks itself up there, in time that does not grow with either.
class hop_by_hop
{
public:
    // Takes note of the message's next header. Headers are asked about by their position in
    // this order; their names and values must stay as they are while this object lives.
    void add(const QByteArray& name, const QByteArray& value);
    // Whether the header added at that position concerns the connection.
    bool covers(int position) const;

private:
    void decide() const;

    QVarLengthArray<const QByteArray*, 16> names_;
    QVarLengthArray<const QByteArray*, 2> lists_; // the values of the Connection headers
    // Decided at the first question, once every header is known.
    mutable QVarLengthArray<bool, 16> covered_;
    mutable bool decided_ = false;
};
