#include "router/json_overlay.h"

#include "router/json_object_builder.h"
#include "json/json_array_text.h"
#include "json/json_text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>

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

QString json_overlay::key_of(qint32 entry) const
{
    return entry >= 0 ? body_->key(entry) : own_[std::size_t(~entry)].key;
}

std::size_t json_overlay::search(const QString& key, bool& found) const
{
    // Qt's own comparison of each key with the one looked for, over the same order: the search
    // ends where Qt's ends, even where that order is not the keys' own.
    const auto compare = [this](qint32 entry, const QString& k) {
        if (entry >= 0 && parsed_keys_)
            return body_->compare_key(entry, k);
        const QString held = key_of(entry);
        return held < k ? -1 : held == k ? 0 : 1;
    };
    const auto at = std::lower_bound(order_.begin(), order_.end(), key,
        [&compare](qint32 entry, const QString& k) { return compare(entry, k) < 0; });
    found = at != order_.end() && compare(*at, key) == 0;
    return std::size_t(at - order_.begin());
}

void json_overlay::put(std::size_t at, bool found, own_member member)
{
    if (found && order_[at] < 0) {
        own_[std::size_t(~order_[at])] = std::move(member);
        return;
    }
    const qint32 entry = ~qint32(own_.size());
    own_.push_back(std::move(member));
    if (found)
        order_[at] = entry; // the body's member stays in its text, unwritten
    else
        order_.insert(order_.begin() + qsizetype(at), entry);
}

void json_overlay::insert(const QString& key, const QJsonValue& value)
{
    bool found;
    const std::size_t at = search(key, found);
    put(at, found, { key, value, {} });
}

void json_overlay::insert_text(const QString& key, QByteArray json)
{
    bool found;
    const std::size_t at = search(key, found);
    put(at, found, { key, {}, std::move(json) });
}

void json_overlay::append_strings(const QString& key, const QStringList& texts)
{
    bool found;
    const std::size_t at = search(key, found);
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
        put(at, found, { key, array, {} });
        return;
    }
    json_array_text array(std::move(array_text));
    for (const QString& text : texts)
        array.add_string(text);
    put(at, found, { key, {}, array.take() });
}

bool json_overlay::contains(const QString& key) const
{
    bool found;
    search(key, found);
    return found;
}

QJsonValue json_overlay::shallow_value(const QString& key) const
{
    bool found;
    const std::size_t at = search(key, found);
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

std::optional<std::string_view> json_overlay::plain_key(qint32 member) const
{
    const std::string_view text = body_->member_text(member);
    for (std::size_t i = 1; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"')
            return text.substr(1, i - 1);
        if (c == '\\' || c >= 0xED)
            return std::nullopt;
    }
    return std::nullopt;
}

bool json_overlay::ascending() const
{
    for (std::size_t i = 1; i < order_.size(); ++i) {
        const qint32 a = order_[i - 1];
        const qint32 b = order_[i];
        if (a >= 0 && b >= 0) {
            // Bytes of UTF-8 below U+D000 sort as their UTF-16 units: no key is made for them.
            const auto x = plain_key(a);
            const auto y = plain_key(b);
            if (x && y) {
                if (!(*x < *y))
                    return false;
                continue;
            }
        }
        if (!(key_of(a) < key_of(b)))
            return false;
    }
    return true;
}

void json_overlay::merge_sorted(const QJsonObject& from)
{
    std::vector<qint32> merged;
    merged.reserve(order_.size() + std::size_t(from.size()));
    const auto own = [this](const QString& key, const QJsonValue& value) {
        own_.push_back({ key, value, {} });
        return ~qint32(own_.size() - 1);
    };
    if (keys_ascending(from) && ascending()) {
        // Both in order already: each key of `from` finds its place after the last one's.
        auto next = order_.cbegin();
        for (auto it = from.constBegin(); it != from.constEnd(); ++it) {
            const QString key = it.key();
            const auto end = std::lower_bound(next, order_.cend(), key,
                [this](qint32 entry, const QString& k) { return key_of(entry) < k; });
            merged.insert(merged.end(), next, end);
            next = end;
            if (next != order_.cend() && key_of(*next) == key)
                ++next;
            merged.push_back(own(key, it.value()));
        }
        merged.insert(merged.end(), next, order_.cend());
    } else {
        // As json_object_builder sorts: stably, and of equal keys the last given stays.
        std::vector<std::pair<QString, qint32>> members;
        members.reserve(merged.capacity());
        for (const qint32 entry : order_)
            members.emplace_back(key_of(entry), entry);
        for (auto it = from.constBegin(); it != from.constEnd(); ++it)
            members.emplace_back(it.key(), own(it.key(), it.value()));
        std::stable_sort(members.begin(), members.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
        for (std::size_t i = 0; i < members.size(); ++i) {
            if (i + 1 == members.size() || members[i].first != members[i + 1].first)
                merged.push_back(members[i].second);
        }
    }
    order_ = std::move(merged);
    parsed_keys_ = false;
}

void json_overlay::insert_all(const QJsonObject& from)
{
    if (from.isEmpty())
        return;
    const auto key_at = [this](int i) { return key_of(order_[std::size_t(i)]); };
    if (!inserts_one_by_one(int(order_.size()), key_at, from)) {
        merge_sorted(from);
        return;
    }
    for (auto it = from.constBegin(); it != from.constEnd(); ++it)
        insert(it.key(), it.value());
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
