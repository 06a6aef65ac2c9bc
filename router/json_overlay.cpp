#include "router/json_overlay.h"

#include "router/chunked_vector.h"
#include "json/json_array_text.h"
#include "json/json_text.h"

#include <QJsonArray>
#include <string_view>

json_overlay::json_overlay(const QJsonObject& object)
{
    own_.reserve(std::size_t(object.size()));
    order_.reserve(std::size_t(object.size()));
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        order_.push_back(~qint32(own_.size()));
        own_.push_back({ it.key(), it.value(), {} });
    }
}

json_overlay::json_overlay(compact_json body)
    : body_(std::move(body))
{
    order_.resize(std::size_t(body_->size()));
    for (std::size_t i = 0; i < order_.size(); ++i)
        order_[i] = qint32(i);
}

int json_overlay::compare_key(qint32 entry, const QString& key) const
{
    if (entry >= 0)
        return body_->compare_key(entry, key);
    const own_member& member = own_[std::size_t(~entry)];
    if (member.body_key >= 0)
        return body_->compare_key(member.body_key, key);
    return member.key.compare(key);
}

namespace {

void insert_at(std::vector<qint32>& order, std::size_t at, qint32 entry)
{
    order.insert(order.begin() + qsizetype(at), entry);
}

void insert_at(chunked_vector<qint32>& order, std::size_t at, qint32 entry)
{
    order.insert(at, entry);
}

} // namespace

template <typename Order>
std::size_t json_overlay::search(const Order& order, const QString& key, bool& found) const
{
    // The steps of std::lower_bound, which Qt's search takes, with Qt's comparison of each key:
    // the search ends where Qt's ends, even where the order is not one its comparison keeps
    // (keys the parser ordered otherwise, U+E000 and up beside characters past U+FFFF).
    std::size_t first = 0;
    std::size_t length = order.size();
    while (length > 0) {
        const std::size_t half = length >> 1;
        if (compare_key(order[first + half], key) < 0) {
            first += half + 1;
            length -= half + 1;
        } else {
            length = half;
        }
    }
    found = first < order.size() && compare_key(order[first], key) == 0;
    return first;
}

template <typename Order>
void json_overlay::put(Order& order, std::size_t at, bool found, own_member member)
{
    if (found && order[at] < 0) {
        own_member& held = own_[std::size_t(~order[at])];
        held.value = std::move(member.value);
        held.text = std::move(member.text);
        return;
    }
    if (found) {
        // The body's member stays in its text, unwritten; its key stays as the parser made it.
        member.key = body_->key(order[at]);
        member.body_key = order[at];
        order[at] = ~qint32(own_.size());
        own_.push_back(std::move(member));
        return;
    }
    const qint32 entry = ~qint32(own_.size());
    own_.push_back(std::move(member));
    insert_at(order, at, entry);
}

void json_overlay::insert(const QString& key, const QJsonValue& value)
{
    bool found;
    const std::size_t at = search(order_, key, found);
    put(order_, at, found, { key, value, {} });
}

void json_overlay::insert_text(const QString& key, QByteArray json)
{
    bool found;
    const std::size_t at = search(order_, key, found);
    put(order_, at, found, { key, {}, std::move(json) });
}

void json_overlay::append_strings(const QString& key, const QStringList& texts)
{
    bool found;
    const std::size_t at = search(order_, key, found);
    const qint32 entry = found ? order_[at] : 0;
    QByteArray array_text;
    if (found && entry >= 0 && body_->value_kind(entry) == compact_json::kind::array) {
        const std::string_view text = body_->value_text(entry);
        array_text = QByteArray(text.data(), int(text.size()));
    } else if (found && entry < 0 && own_[std::size_t(~entry)].text.startsWith('[')) {
        array_text = own_[std::size_t(~entry)].text;
    }
    if (array_text.isNull()) {
        QJsonArray array;
        if (found && entry < 0)
            array = own_[std::size_t(~entry)].value.toArray();
        for (const QString& text : texts)
            array.append(text);
        put(order_, at, found, { key, array, {} });
        return;
    }
    json_array_text array(std::move(array_text));
    for (const QString& text : texts)
        array.add_string(text);
    put(order_, at, found, { key, {}, array.take() });
}

bool json_overlay::contains(const QString& key) const
{
    bool found;
    search(order_, key, found);
    return found;
}

QJsonValue json_overlay::shallow_value(const QString& key) const
{
    bool found;
    const std::size_t at = search(order_, key, found);
    if (!found)
        return QJsonValue(QJsonValue::Undefined);
    const qint32 entry = order_[at];
    if (entry >= 0) {
        switch (body_->value_kind(entry)) {
        case compact_json::kind::array:
            return QJsonArray();
        case compact_json::kind::object:
            return QJsonObject();
        default:
            return body_->scalar(entry);
        }
    }
    const own_member& member = own_[std::size_t(~entry)];
    if (member.text.isNull())
        return member.value;
    if (member.text.startsWith('['))
        return QJsonArray();
    if (member.text.startsWith('{'))
        return QJsonObject();
    return read_qt_json_value(member.text);
}

void json_overlay::insert_all(const QJsonObject& from)
{
    // Each member searched for and put as QJsonObject::insert does, in the vector while that
    // moves fewer members than a budget of 32 a member; the rest in chunks, where an insert
    // moves a few hundred at most.
    const qint64 budget = 32 * (qint64(order_.size()) + from.size());
    qint64 moved = 0;
    auto it = from.constBegin();
    for (; it != from.constEnd(); ++it) {
        const QString key = it.key();
        bool found;
        const std::size_t at = search(order_, key, found);
        if (!found && (moved += qint64(order_.size() - at)) > budget)
            break;
        put(order_, at, found, { key, it.value(), {} });
    }
    if (it == from.constEnd())
        return;
    chunked_vector<qint32> order(order_);
    for (; it != from.constEnd(); ++it) {
        const QString key = it.key();
        bool found;
        const std::size_t at = search(order, key, found);
        put(order, at, found, { key, it.value(), {} });
    }
    order_ = order.items();
}

QByteArray json_overlay::compact_text() const
{
    qsizetype room = 2 + (body_ ? body_->text().size() : 0);
    for (const own_member& member : own_)
        room += member.key.size() + 4 + (member.text.isNull() ? 16 : member.text.size());
    QByteArray out;
    out.reserve(int(room));
    out += '{';
    for (std::size_t i = 0; i < order_.size();) {
        if (i)
            out += ',';
        const qint32 entry = order_[i];
        if (entry >= 0) {
            // A run of the body's members in their own order is one stretch of its text.
            std::size_t end = i + 1;
            while (end < order_.size() && order_[end] == order_[end - 1] + 1)
                ++end;
            const std::string_view first = body_->member_text(entry);
            const std::string_view last = body_->member_text(order_[end - 1]);
            out.append(first.data(), int(last.data() + last.size() - first.data()));
            i = end;
            continue;
        }
        const own_member& member = own_[std::size_t(~entry)];
        append_qt_json_string(out, member.key);
        out += ':';
        if (member.text.isNull())
            append_qt_json_value(out, member.value);
        else
            out += member.text;
        ++i;
    }
    out += '}';
    return out;
}
