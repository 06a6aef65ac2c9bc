#include "router/hop_by_hop.h"

#include <algorithm>

namespace {

bool same_name(const QByteArray& name, const char* lower, int size)
{
    return name.size() == size && qstrnicmp(name.constData(), lower, uint(size)) == 0;
}

} // namespace

void hop_by_hop::add_listed(const QByteArray& connection_value)
{
    int from = 0;
    while (from <= connection_value.size()) {
        int to = connection_value.indexOf(',', from);
        if (to < 0)
            to = connection_value.size();
        const QByteArray name = connection_value.mid(from, to - from).trimmed();
        if (!name.isEmpty())
            listed_.append(name);
        from = to + 1;
    }
}

bool hop_by_hop::covers(const QByteArray& name) const
{
    static const struct
    {
        const char* lower;
        int size;
    } standard[] = { { "connection", 10 }, { "keep-alive", 10 }, { "proxy-connection", 16 },
        { "te", 2 }, { "trailer", 7 }, { "upgrade", 7 } };
    for (const auto& s : standard)
        if (same_name(name, s.lower, s.size))
            return true;
    return std::any_of(listed_.begin(), listed_.end(), [&](const QByteArray& listed) {
        return same_name(name, listed.constData(), listed.size());
    });
}
