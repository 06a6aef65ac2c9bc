#include "json/compact_json.h"

#include "json/compact_json_number.h"
#include "json/compact_json_string.h"

#include <QLocale>

#include <algorithm>

namespace {

constexpr int nesting_limit = 1024;

// Skips white space inside a document already read whole: something else always follows.
const char* skip_space(const char* at)
{
    while (is_json_space(*at))
        ++at;
    return at;
}

// A nested object whose members Qt writes in another order than they came, or fewer of them
// (a repeated key): where it stands in the source, and its keys in Qt's order.
struct reordered_object
{
    quint32 open; // the offset of its "{"
    quint32 close; // the offset past its "}"
    quint32 first; // its first key in object_orders::keys
    quint32 count;
};

struct object_orders
{
    std::vector<reordered_object> objects; // by open, once the reading is done
    std::vector<json_key> keys;
};

// The first pass: QJsonPrivate::Parser step by step, so that it accepts and refuses what Qt
// does, with the same error at the same offset. It keeps no values, only the keys of each open
// object; when the object closes they are sorted as Qt sorts them, and kept only when that
// changes their order. It also notes whether the text is already what the writer would write
// (no white space, each string and number as the writer has it, each object in Qt's order), as
// a body sent by a program often is: then it is its own compact text, or, when only the
// top-level members are out of Qt's order, their texts are.
class reader
{
public:
    reader(const char* json, qsizetype length)
        : head_(json)
        , json_(json)
        , end_(json + length)
        , sorter_(json, length)
    { }

    QJsonParseError read();

    const char* top = nullptr; // the "[" or "{" of the document
    bool object = false;
    std::vector<json_key> top_keys;
    object_orders orders;
    bool compact = true; // the text is its own compact form, but for the top-level order
    bool top_in_order = true;
    // When set, where each value starts that a repeated key loses as its object closes.
    std::vector<quint32>* dropped = nullptr;

private:
    bool fail(QJsonParseError::ParseError error)
    {
        error_ = error;
        error_at_ = json_ - head_;
        return false;
    }
    bool eat_space()
    {
        if (json_ < end_ && is_json_space(*json_)) {
            compact = false;
            do
                ++json_;
            while (json_ < end_ && is_json_space(*json_));
        }
        return json_ < end_;
    }
    char next_token()
    {
        if (!eat_space())
            return 0;
        const char token = *json_++;
        switch (token) {
        case '[':
        case '{':
        case ':':
        case ',':
        case ']':
        case '}':
        case '"':
            return token;
        default:
            return 0;
        }
    }
    bool expect(const char* rest, int size)
    {
        if (end_ - json_ < size + 1)
            return fail(QJsonParseError::IllegalValue);
        for (int i = 0; i < size; ++i) {
            if (*json_++ != rest[i])
                return fail(QJsonParseError::IllegalValue);
        }
        return true;
    }

    bool parse_object(bool top_level);
    void close_object(size_t mark, qsizetype open, bool top_level);
    void note_dropped(const json_key* kept, const json_key* last);
    bool parse_member();
    bool parse_array();
    bool parse_value();
    bool parse_number();
    bool parse_string(bool key);

    const char* const head_;
    const char* json_;
    const char* const end_;
    int nesting_ = 0;
    QJsonParseError::ParseError error_ = QJsonParseError::NoError;
    qsizetype error_at_ = 0;
    // The keys of the objects still open, each object's after a json_key::lowest().
    std::vector<json_key> pending_;
    // While dropped values are noted: the keys of the object closing, in the order they came,
    // and the starts of those it keeps.
    std::vector<json_key> came_;
    std::vector<quint32> kept_;
    json_key_sorter sorter_;
};

QJsonParseError reader::read()
{
    static const char bom[] = "\xef\xbb\xbf";
    if (end_ - json_ > 3 && std::equal(bom, bom + 3, json_)) {
        json_ += 3;
        compact = false;
    }
    const char token = next_token();
    bool read = false;
    if (token == '[' || token == '{') {
        top = json_ - 1;
        object = token == '{';
        read = object ? parse_object(true) : parse_array();
    } else {
        fail(QJsonParseError::IllegalValue);
    }
    if (read) {
        eat_space();
        if (json_ < end_)
            read = fail(QJsonParseError::GarbageAtEnd);
    }
    std::vector<json_key>().swap(pending_);
    if (!read)
        return { int(error_at_), error_ };
    std::sort(orders.objects.begin(), orders.objects.end(),
        [](const reordered_object& a, const reordered_object& b) { return a.open < b.open; });
    return { 0, QJsonParseError::NoError };
}

bool reader::parse_object(bool top_level)
{
    if (++nesting_ > nesting_limit)
        return fail(QJsonParseError::DeepNesting);
    const qsizetype open = json_ - 1 - head_;
    const size_t mark = pending_.size();
    pending_.push_back(json_key::lowest());

    char token = next_token();
    while (token == '"') {
        if (!parse_member())
            return false;
        token = next_token();
        if (token != ',')
            break;
        token = next_token();
        if (token == '}')
            return fail(QJsonParseError::MissingObject);
    }
    if (token != '}')
        return fail(QJsonParseError::UnterminatedObject);
    --nesting_;
    close_object(mark, open, top_level);
    return true;
}

void reader::close_object(size_t mark, qsizetype open, bool top_level)
{
    const size_t count = pending_.size() - mark - 1;
    json_key* kept = pending_.data() + mark + 1;
    if (count > 1) {
        if (dropped)
            came_.assign(kept, kept + count);
        pending_.push_back(json_key::highest());
        kept = sorter_.sort(pending_.data() + mark + 1, pending_.data() + mark + 1 + count);
        pending_.pop_back();
    }
    json_key* const last = pending_.data() + mark + 1 + count;
    if (dropped && size_t(last - kept) != count)
        note_dropped(kept, last);
    bool same = size_t(last - kept) == count;
    for (const json_key* key = kept; same && key + 1 < last; ++key)
        same = key->begin() < key[1].begin();
    if (top_level)
        top_in_order = same;
    else
        compact = compact && same;
    if (top_level) {
        top_keys.assign(kept, last);
    } else if (count > 1) {
        if (!same) {
            orders.objects.push_back({ quint32(open), quint32(json_ - head_),
                quint32(orders.keys.size()), quint32(last - kept) });
            orders.keys.insert(orders.keys.end(), kept, last);
        }
    }
    pending_.resize(mark);
}

void reader::note_dropped(const json_key* kept, const json_key* last)
{
    // The keys came in the order of their offsets: one walk beside the kept ones, put in that
    // order too, finds the rest.
    kept_.clear();
    for (const json_key* key = kept; key < last; ++key)
        kept_.push_back(key->begin());
    std::sort(kept_.begin(), kept_.end());
    auto next_kept = kept_.begin();
    for (const json_key key : came_) {
        if (next_kept != kept_.end() && *next_kept == key.begin()) {
            ++next_kept;
            continue;
        }
        const char* colon = skip_space(head_ + key.begin() + key.size() + 1);
        dropped->push_back(quint32(skip_space(colon + 1) - head_));
    }
}

bool reader::parse_member()
{
    if (!parse_string(true))
        return false;
    if (next_token() != ':')
        return fail(QJsonParseError::MissingNameSeparator);
    if (!eat_space())
        return fail(QJsonParseError::UnterminatedObject);
    return parse_value();
}

bool reader::parse_array()
{
    // An array in an array is read in this same loop, its level a count rather than a call of
    // its own: arrays nested deep cost a few compares a bracket. The steps, and so the errors
    // and where they are found, are those of Qt's recursive parser.
    enum class step { open, item, separator };
    int levels = 0;
    step next = step::open;
    for (;;) {
        switch (next) {
        case step::open:
            if (++nesting_ > nesting_limit)
                return fail(QJsonParseError::DeepNesting);
            ++levels;
            if (!eat_space())
                return fail(QJsonParseError::UnterminatedArray);
            if (*json_ != ']') {
                next = step::item;
                break;
            }
            next_token();
            --nesting_;
            if (--levels == 0)
                return true;
            next = step::separator;
            break;
        case step::item:
            if (!eat_space())
                return fail(QJsonParseError::UnterminatedArray);
            if (*json_ == '[') {
                ++json_;
                next = step::open;
                break;
            }
            if (!parse_value())
                return false;
            next = step::separator;
            break;
        case step::separator: {
            const char token = next_token();
            if (token == ']') {
                --nesting_;
                if (--levels == 0)
                    return true;
                break;
            }
            if (token != ',') {
                const bool more = eat_space();
                return fail(more ? QJsonParseError::MissingValueSeparator
                                 : QJsonParseError::UnterminatedArray);
            }
            next = step::item;
            break;
        }
        }
    }
}

bool reader::parse_value()
{
    switch (*json_++) {
    case 'n':
        return expect("ull", 3);
    case 't':
        return expect("rue", 3);
    case 'f':
        return expect("alse", 4);
    case '"':
        return parse_string(false);
    case '[':
        return parse_array();
    case '{':
        return parse_object(false);
    case ',':
        return fail(QJsonParseError::IllegalValue);
    case '}':
    case ']':
        return fail(QJsonParseError::MissingObject);
    default:
        --json_;
        return parse_number();
    }
}

bool reader::parse_number()
{
    const char* begin = json_;
    json_ = scan_json_number(json_, end_);
    if (json_ >= end_)
        return fail(QJsonParseError::TerminationByNumber);
    // Up to 15 digits alone (a leading zero stands alone, as the scan stops after it): a whole
    // number exact in a double, which the writer writes as it came, but "-0" as "0". The
    // commonest number, read without the general reading.
    const char* digits = *begin == '-' ? begin + 1 : begin;
    if (json_ > digits && json_ - digits <= 15
        && std::all_of(digits, json_, [](char c) { return c >= '0' && c <= '9'; })) {
        if (digits > begin && *digits == '0')
            compact = false;
        return true;
    }
    if (read_json_number(begin, json_).kind == json_number::illegal)
        return fail(QJsonParseError::IllegalNumber);
    // Any other text is taken for one the writer writes otherwise: a fraction or an exponent
    // it may write as it came is written again all the same.
    compact = false;
    return true;
}

bool reader::parse_string(bool key)
{
    const json_string_read read = read_json_string(json_, end_);
    if (read.error != QJsonParseError::NoError) {
        error_ = read.error;
        error_at_ = json_ - head_ + read.stop;
        return false;
    }
    if (key)
        pending_.push_back(json_key(quint32(json_ - head_), quint32(read.stop - 1), read.form));
    // The writer escapes controls and drops a leading byte order mark; an escape it writes its
    // own way.
    if (compact) {
        const char* end = json_ + read.stop - 1;
        compact = read.form == json_string_form::utf8 && !starts_with_bom(json_, end)
            && std::all_of(json_, end, [](char c) { return uchar(c) >= 0x20; });
    }
    json_ += read.stop;
    return true;
}

// The second pass, over a document the first has read whole: writes it as Qt's compact writer
// does, each object in the order the first pass found for it.
class writer
{
public:
    writer(const char* source, qsizetype length, const object_orders& orders, staged_bytes& out)
        : source_(source)
        , end_(source + length)
        , orders_(orders)
        , out_(out)
    { }

    const char* value(const char* at);
    // A member's key and colon, from the opening quote of the key; returns where its value
    // starts.
    const char* key(const char* quote);
    const char* array(const char* at);

private:
    const char* object(const char* at);
    // The members of an object as they came, from its opening brace.
    const char* in_order(const char* open);
    const reordered_object* reordered(const char* open) const;

    const char* const source_;
    const char* const end_;
    const object_orders& orders_;
    staged_bytes& out_;
};

const char* writer::value(const char* at)
{
    switch (*at) {
    case 'n':
        out_.put("null", 4);
        return at + 4;
    case 't':
        out_.put("true", 4);
        return at + 4;
    case 'f':
        out_.put("false", 5);
        return at + 5;
    case '"':
        return put_source_string(out_, at);
    case '[':
        return array(at);
    case '{':
        return object(at);
    default: {
        const char* end = scan_json_number(at, end_);
        put_json_number(out_, read_json_number(at, end));
        return end;
    }
    }
}

const char* writer::key(const char* quote)
{
    const char* colon = skip_space(put_source_string(out_, quote));
    out_.put(':');
    return skip_space(colon + 1);
}

const char* writer::array(const char* at)
{
    // Arrays in arrays in this one loop, as the reader reads them. Between the values of an
    // array there are only its brackets and commas, written as they came, and white space.
    int depth = 0;
    for (;;) {
        switch (*at) {
        case '[':
            out_.put('[');
            ++depth;
            ++at;
            break;
        case ']':
            out_.put(']');
            ++at;
            if (--depth == 0)
                return at;
            break;
        case ',':
            out_.put(',');
            ++at;
            break;
        case ' ':
        case '\t':
        case '\n':
        case '\r':
            ++at;
            break;
        default:
            at = value(at);
        }
    }
}

const char* writer::object(const char* at)
{
    out_.put('{');
    if (const reordered_object* order = reordered(at)) {
        for (quint32 i = 0; i < order->count; ++i) {
            if (i)
                out_.put(',');
            value(key(source_ + orders_.keys[order->first + i].begin() - 1));
        }
        out_.put('}');
        return source_ + order->close;
    }
    return in_order(at);
}

const char* writer::in_order(const char* open)
{
    const char* at = skip_space(open + 1);
    if (*at != '}') {
        for (;;) {
            at = skip_space(value(key(at)));
            if (*at != ',')
                break;
            out_.put(',');
            at = skip_space(at + 1);
        }
    }
    out_.put('}');
    return at + 1;
}

const reordered_object* writer::reordered(const char* open) const
{
    const auto& objects = orders_.objects;
    const quint32 offset = quint32(open - source_);
    const auto found = std::lower_bound(objects.begin(), objects.end(), offset,
        [](const reordered_object& object, quint32 at) { return object.open < at; });
    return found != objects.end() && found->open == offset ? &*found : nullptr;
}

} // namespace

compact_json::compact_json(const QByteArray& body, reading what)
    : source_(body)
{
    object_orders orders;
    const char* source = source_.constData();
    const char* top;
    {
        reader first(source, source_.size());
        error_ = first.read();
        if (!valid())
            return;
        object_ = first.object;
        top = first.top;
        keys_ = std::move(first.top_keys);
        orders = std::move(first.orders);
        if (what == reading::members)
            return;
        if (first.compact) {
            // Written already: the text is the body itself, or its members put in Qt's order.
            // With no white space, a value ends at the comma before the next key's quote, the
            // last at the closing brace; one put in Qt's order, where its own text ends.
            values_.resize(keys_.size());
            if (first.top_in_order) {
                text_ = source_;
                for (size_t i = 0; i < keys_.size(); ++i) {
                    const quint32 end = i + 1 < keys_.size() ? keys_[i + 1].begin() - 2
                                                             : quint32(source_.size() - 1);
                    values_[i] = { keys_[i].begin() + keys_[i].size() + 2, end };
                }
                return;
            }
            text_.reserve(source_.size());
            text_.append('{');
            for (size_t i = 0; i < keys_.size(); ++i) {
                if (i)
                    text_.append(',');
                const quint32 key = keys_[i].begin();
                const quint32 value = key + keys_[i].size() + 2;
                const auto end = quint32(json_value_end(source + value) - source);
                values_[i].begin = quint32(text_.size()) + (value - key + 1);
                text_.append(source + key - 1, int(end - key + 1));
                values_[i].end = quint32(text_.size());
            }
            text_.append('}');
            return;
        }
    }

    text_.reserve(source_.size());
    {
        staged_bytes out(text_);
        writer second(source, source_.size(), orders, out);
        if (!object_) {
            second.array(top);
        } else {
            values_.resize(keys_.size());
            out.put('{');
            for (size_t i = 0; i < keys_.size(); ++i) {
                if (i)
                    out.put(',');
                const char* value = second.key(source + keys_[i].begin() - 1);
                values_[i].begin = quint32(out.size());
                second.value(value);
                values_[i].end = quint32(out.size());
            }
            out.put('}');
        }
    }
    if (text_.capacity() - text_.size() > text_.size() / 4 + 64)
        text_.squeeze();
}

QString compact_json::key(int i) const
{
    const json_key key = keys_[size_t(i)];
    const char* begin = source_.constData() + key.begin();
    return json_string_text(begin, begin + key.size(), key.form());
}

std::string_view compact_json::value_text(int i) const
{
    const span value = values_[size_t(i)];
    return std::string_view(text_.constData() + value.begin, value.end - value.begin);
}

std::string_view compact_json::member_text(int i) const
{
    // A member starts just past the "{" or the "," before it.
    const quint32 begin = i == 0 ? 1 : values_[size_t(i) - 1].end + 1;
    return std::string_view(text_.constData() + begin, values_[size_t(i)].end - begin);
}

compact_json::kind compact_json::value_kind(int i) const
{
    switch (*value_source(i)) {
    case '{':
        return kind::object;
    case '[':
        return kind::array;
    case '"':
        return kind::string;
    case 't':
    case 'f':
        return kind::boolean;
    case 'n':
        return kind::null;
    default:
        return kind::number;
    }
}

int compact_json::compare_key(int i, QStringView key) const
{
    return compare_json_key(source_.constData(), keys_[size_t(i)], key);
}

int compact_json::index_of(QStringView key) const
{
    const char* source = source_.constData();
    const auto found = std::lower_bound(keys_.begin(), keys_.end(), key,
        [source](json_key k, QStringView text) { return compare_json_key(source, k, text) < 0; });
    if (found == keys_.end() || compare_json_key(source, *found, key) != 0)
        return -1;
    return int(found - keys_.begin());
}

const char* compact_json::value_source(int i) const
{
    const json_key key = keys_[size_t(i)];
    const char* colon = skip_space(source_.constData() + key.begin() + key.size() + 1);
    return skip_space(colon + 1);
}

namespace {

QString string_at(const char* quote)
{
    bool escaped;
    const char* close = json_string_end(quote, escaped);
    return json_string_text(
        quote + 1, close, escaped ? json_string_form::utf16 : json_string_form::utf8);
}

json_number number_at(const char* at, const char* end)
{
    return read_json_number(at, scan_json_number(at, end));
}

} // namespace

const char* json_value_end(const char* at)
{
    // Past its strings, the brackets alone tell where a value ends.
    int depth = 0;
    do {
        if (*at == '"') {
            bool escaped;
            at = json_string_end(at, escaped) + 1;
            continue;
        }
        if (*at == '[' || *at == '{') {
            ++depth;
        } else if (*at == ']' || *at == '}') {
            --depth;
        } else if (depth == 0) {
            while (*at != ',' && *at != ']' && *at != '}' && !is_json_space(*at))
                ++at;
            return at;
        }
        ++at;
    } while (depth > 0);
    return at;
}

compact_json compact_json::member_json(int i) const
{
    Q_ASSERT(value_kind(i) == kind::object || value_kind(i) == kind::array);
    const char* const begin = value_source(i);
    return compact_json(QByteArray::fromRawData(begin, int(json_value_end(begin) - begin)));
}

QJsonValue compact_json::scalar(int i) const
{
    const char* at = value_source(i);
    switch (*at) {
    case 'n':
        return QJsonValue(QJsonValue::Null);
    case 't':
        return QJsonValue(true);
    case 'f':
        return QJsonValue(false);
    case '"':
        return QJsonValue(string_at(at));
    case '[':
    case '{':
        return QJsonValue(QJsonValue::Undefined);
    default: {
        const json_number number = number_at(at, source_.constData() + source_.size());
        return number.kind == json_number::integer ? QJsonValue(number.whole)
                                                   : QJsonValue(number.fraction);
    }
    }
}

QString compact_json::variant_text(int i) const
{
    const char* at = value_source(i);
    switch (*at) {
    case 't':
        return QStringLiteral("true");
    case 'f':
        return QStringLiteral("false");
    case '"':
        return string_at(at);
    case 'n':
    case '[':
    case '{':
        return QString();
    default: {
        const json_number number = number_at(at, source_.constData() + source_.size());
        return number.kind == json_number::integer
            ? QString::number(number.whole)
            : QString::number(number.fraction, 'g', QLocale::FloatingPointShortest);
    }
    }
}

std::vector<quint32> dropped_json_values(const QByteArray& text)
{
    std::vector<quint32> dropped;
    reader first(text.constData(), text.size());
    first.dropped = &dropped;
    first.read();
    return dropped;
}
