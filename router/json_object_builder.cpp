#include "router/json_object_builder.h"

#include <algorithm>
#include <functional>

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

// A key that compares alike by UTF-16 unit and by code point against any other: it holds no
// unit from U+D800 on.
bool orders_alike(const QString& key)
{
    for (const QChar c : key) {
        if (c.unicode() >= 0xD800)
            return false;
    }
    return true;
}

// How many of the `n` members of an object (key_at gives their keys) insert(key) would move:
// those that sort after the key, none when the key is there already. Searched from the end, so
// that a key near the end costs a few comparisons (each reads a key out of the object).
int members_after(int n, const std::function<QString(int)>& key_at, const QString& key)
{
    int low = 0;
    int high = n; // every member from `high` on sorts after the key
    for (qint64 step = 1; step <= n; step *= 2) {
        const int probe = int(n - step);
        if (key_at(probe) < key) {
            low = probe + 1;
            break;
        }
        high = probe;
    }
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (key_at(middle) < key)
            low = middle + 1;
        else
            high = middle;
    }
    if (low < n && key_at(low) == key)
        return 0;
    return n - low;
}

// Whether the keys of `object` are in strictly ascending order by QString's operator<. With
// `plain`, also each free of units from U+D800 on, so that it orders alike by UTF-16 unit and by
// code point: Qt's JSON parser sorts keys by code point, insert() by unit, and the two differ
// where a character beyond U+FFFF meets one from U+E000 on. An object that is not so is merged
// by sorting, which leaves its keys in insert()'s order where inserting one by one kept the
// parser's.
bool keys_ascending(const QJsonObject& object, bool plain = false)
{
    QString previous;
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        QString key = it.key();
        if ((plain && !orders_alike(key)) || (it != object.constBegin() && !(previous < key)))
            return false;
        previous = std::move(key);
    }
    return true;
}

// Whether a plain object holds a key that the parser kept with a leading byte order mark, which
// the key's QString drops and Qt's search does not: taken as it is, the object would compare that
// key otherwise than one made by inserting its members. The parser puts such keys after every
// key of a plain object, so the last tells.
bool keeps_a_byte_order_mark(const QJsonObject& object)
{
    const auto last = object.constEnd() - 1;
    return object.constFind(last.key()) != last;
}

// How insert_all(into, from) goes about it: true when it inserts the members of `from` one by
// one, as few members of `into` move that way (a handful of keys, or keys that go near the end);
// otherwise it makes the object anew, every key of both in QString's order, of a key in both the
// value of `from`. `into` is given by its size and its keys by position.
bool inserts_one_by_one(
    int into_size, const std::function<QString(int)>& into_key, const QJsonObject& from)
{
    // A move is a copy of a few bytes, a merge makes every member again: moving 32 members
    // costs less than making one. Only for keys that Qt places in `into` as they compare here.
    const qint64 budget = 32 * (qint64(into_size) + from.size());
    qint64 moved = 0;
    QString previous;
    for (auto it = from.constBegin(); it != from.constEnd(); ++it) {
        QString key = it.key();
        // Ascending keys never move one another.
        if (!orders_alike(key) || (it != from.constBegin() && !(previous < key)))
            return false;
        moved += members_after(into_size, into_key, key);
        if (moved > budget)
            return false;
        previous = std::move(key);
    }
    return true;
}

} // namespace

void insert_all(QJsonObject& into, std::vector<QJsonObject> parts)
{
    parts.insert(parts.begin(), std::move(into));
    into = QJsonObject();
    parts.erase(std::remove_if(parts.begin(), parts.end(),
                    [](const QJsonObject& part) { return part.isEmpty(); }),
        parts.end());
    const bool plain = std::all_of(parts.begin(), parts.end(),
        [](const QJsonObject& part) { return keys_ascending(part, true); });
    if (parts.size() == 1 && plain && !keeps_a_byte_order_mark(parts.front())) {
        into = std::move(parts.front());
        return;
    }
    if (parts.size() <= 2 || !plain) {
        for (const QJsonObject& part : parts)
            insert_all(into, part);
        return;
    }
    struct cursor
    {
        QString key;
        std::size_t part;
        QJsonObject::const_iterator at;
    };
    // The least key on top; of equal keys the latest part, whose value wins.
    const auto after = [](const cursor& a, const cursor& b) {
        return b.key < a.key || (a.key == b.key && a.part < b.part);
    };
    std::vector<cursor> heap;
    for (std::size_t i = 0; i < parts.size(); ++i)
        heap.push_back({ parts[i].constBegin().key(), i, parts[i].constBegin() });
    std::make_heap(heap.begin(), heap.end(), after);
    QString last;
    bool any = false;
    while (!heap.empty()) {
        std::pop_heap(heap.begin(), heap.end(), after);
        cursor& c = heap.back();
        // Each key is inserted once, with the latest value, in ascending order: at the end.
        if (!any || c.key != last) {
            into.insert(c.key, c.at.value());
            last = c.key;
            any = true;
        }
        if (++c.at == parts[c.part].constEnd()) {
            heap.pop_back();
            continue;
        }
        c.key = c.at.key();
        std::push_heap(heap.begin(), heap.end(), after);
    }
}

void insert_all(QJsonObject& into, const QJsonObject& from)
{
    if (from.isEmpty())
        return;
    const auto into_key = [&into](int i) { return (into.constBegin() + i).key(); };
    if (inserts_one_by_one(into.size(), into_key, from)) {
        for (auto it = from.constBegin(); it != from.constEnd(); ++it)
            into.insert(it.key(), it.value());
        return;
    }
    if (!keys_ascending(into) || !keys_ascending(from)) {
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
