#pragma once

#include <QByteArray>
#include <QVarLengthArray>

// The headers that concern one connection rather than the message: the gateway decides about
// its own connections, so none of them is relayed, in either direction. They are Connection,
// Keep-Alive, Proxy-Connection, TE, Trailer, Upgrade and every header a Connection header
// names; names compare without regard to letter case.
class hop_by_hop
{
public:
    // Takes note of the names listed in the value of one Connection header.
    void add_listed(const QByteArray& connection_value);
    bool covers(const QByteArray& name) const;

private:
    QVarLengthArray<QByteArray, 4> listed_;
};
