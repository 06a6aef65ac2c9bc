#include "http/qhttp_types.h"

#include "http/qhttp_header_name.h"

#include <http_parser.h>

namespace qhttp {

void THeaderList::set(const QByteArray& name, const QByteArray& value)
{
    int found = -1;
    for (int i = 0; i < items_.size(); ++i) {
        if (!same_header_name(items_.at(i).first, name))
            continue;
        if (found < 0) {
            found = i;
            items_[i] = qMakePair(name, value);
        } else {
            // Duplicates added earlier with add() would otherwise survive the replacement.
            items_.remove(i--);
        }
    }
    if (found < 0)
        items_.append(qMakePair(name, value));
}

void THeaderList::add(const QByteArray& name, const QByteArray& value)
{
    items_.append(qMakePair(name, value));
}

QByteArray THeaderList::value(const QByteArray& name) const
{
    for (const auto& item : items_)
        if (same_header_name(item.first, name))
            return item.second;
    return QByteArray();
}

bool THeaderList::has(const QByteArray& name) const
{
    for (const auto& item : items_)
        if (same_header_name(item.first, name))
            return true;
    return false;
}

void THeaderList::remove(const QByteArray& name)
{
    for (int i = 0; i < items_.size(); ++i)
        if (same_header_name(items_.at(i).first, name))
            items_.remove(i--);
}

QByteArray method_name(int method)
{
    return QByteArray(http_method_str(static_cast<enum http_method>(method)));
}

} // namespace qhttp
