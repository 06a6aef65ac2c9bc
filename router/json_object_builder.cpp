#include "router/json_object_builder.h"

#include <algorithm>

json_object_builder::json_object_builder(const QJsonObject& object)
{
    insert(object);
}

void json_object_builder::insert(const QJsonObject& object)
{
    members_.reserve(members_.size() + std::size_t(object.size()));
    for (auto it = object.begin(); it != object.end(); ++it)
        members_.emplace_back(it.key(), it.value());
}

QJsonObject json_object_builder::take()
{
    std::vector<std::pair<QString, QJsonValue>> members;
    members.swap(members_);
    // Stable, so that of equal keys the last given stays last.
    std::stable_sort(members.begin(), members.end(),
        [](const auto& a, const auto& b) { return a.first < b.first; });
    QJsonObject object;
    for (std::size_t i = 0; i < members.size(); ++i) {
        if (i + 1 < members.size() && members[i].first == members[i + 1].first)
            continue;
        // In ascending order each insert finds its place at the end and moves nothing.
        if (!members[i].second.isUndefined())
            object.insert(members[i].first, members[i].second);
    }
    return object;
}

namespace {

// Qt's JSON parser sorts an object's keys by code point, insert() by UTF-16 unit: the two differ
// where a character beyond U+FFFF meets one from U+E000 on. Such an object is merged by sorting.
bool strictly_ascending(const QJsonObject& object)
{
    auto it = object.constBegin();
    if (it == object.constEnd())
        return true;
    QString previous = it.key();
    for (++it; it != object.constEnd(); ++it) {
        QString key = it.key();
        if (!(previous < key))
            return false;
        previous = std::move(key);
    }
    return true;
}

} // namespace

void insert_all(QJsonObject& into, const QJsonObject& from)
{
    if (from.isEmpty())
        return;
    if (!strictly_ascending(into) || !strictly_ascending(from)) {
        json_object_builder builder(into);
        builder.insert(from);
        into = builder.take();
        return;
    }
    QJsonObject merged;
    auto a = into.constBegin();
    auto b = from.constBegin();
    // Each insert below lands at the end: the keys come out in ascending order.
    while (b != from.constEnd()) {
        if (a == into.constEnd()) {
            merged.insert(b.key(), b.value());
            ++b;
            continue;
        }
        const QString a_key = a.key();
        const QString b_key = b.key();
        if (a_key < b_key) {
            merged.insert(a_key, a.value());
            ++a;
            continue;
        }
        if (a_key == b_key)
            ++a;
        merged.insert(b_key, b.value());
        ++b;
    }
    for (; a != into.constEnd(); ++a)
        merged.insert(a.key(), a.value());
    into = merged;
}
