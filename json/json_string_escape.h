#pragma once

#include <QByteArray>
#include <QStringView>
#include <cstring>

// How QJsonDocument's writer escapes a string, unit by unit, for whatever hands it the UTF-16
// units: `"`, `\` and controls escaped (\b \f \n \r \t, else \u00xx), valid UTF-16 as UTF-8, a
// lone surrogate as \udxxx. The one copy of that rule: the command writer hands it QStrings,
// the compact reader of request bodies the units of strings it reads from the source.

inline bool is_surrogate(uint unit)
{
    return unit - 0xd800u < 0x800u;
}
inline bool is_high_surrogate(uint unit)
{
    return unit - 0xd800u < 0x400u;
}
inline bool is_low_surrogate(uint unit)
{
    return unit - 0xdc00u < 0x400u;
}

// Bytes bound for `out`, gathered on the stack so that a string, or a document written byte by
// byte, costs a few appends rather than one per byte.
class staged_bytes
{
public:
    explicit staged_bytes(QByteArray& out)
        : out_(out)
    { }
    ~staged_bytes() { flush(); }
    staged_bytes(const staged_bytes&) = delete;
    staged_bytes& operator=(const staged_bytes&) = delete;

    void put(char c)
    {
        if (used_ == int(sizeof chunk_))
            flush();
        chunk_[used_++] = c;
    }
    void put(const char* bytes, int count)
    {
        if (count <= int(sizeof chunk_) - used_) {
            std::memcpy(chunk_ + used_, bytes, size_t(count));
            used_ += count;
            return;
        }
        flush();
        out_.append(bytes, count);
    }
    void flush()
    {
        if (used_ == 0)
            return;
        out_.append(chunk_, used_);
        used_ = 0;
    }
    // The bytes put so far, those still staged included.
    int size() const { return out_.size() + used_; }

private:
    QByteArray& out_;
    char chunk_[256];
    int used_ = 0;
};

// The units of a QStringView one by one, as put_json_units reads them.
class json_view_units
{
public:
    explicit json_view_units(QStringView text)
        : at_(text.utf16())
        , end_(text.utf16() + text.size())
    { }

    bool next(char16_t& unit)
    {
        if (at_ == end_)
            return false;
        unit = *at_++;
        return true;
    }

private:
    const char16_t* at_;
    const char16_t* end_;
};

// A character below 0x80 that the writer escapes (`"`, `\` or a control), as it escapes it.
void put_json_ascii_escape(staged_bytes& out, char16_t unit);

// A surrogate the writer cannot join with the unit after it.
void put_json_unit_escape(staged_bytes& out, char16_t unit);

// The writer's escaping over a run of UTF-16 units (`units.next(unit)` gives them one by one):
// it looks one unit ahead to join a high surrogate with the low one after it; a surrogate that
// cannot be joined is written as \u.
template <typename Units>
void put_json_units(staged_bytes& out, Units& units)
{
    char16_t unit;
    bool have = units.next(unit);
    while (have) {
        if (unit < 0x80) {
            if (unit >= 0x20 && unit != '"' && unit != '\\')
                out.put(char(unit));
            else
                put_json_ascii_escape(out, unit);
        } else if (unit < 0x800) {
            out.put(char(0xc0 | (unit >> 6)));
            out.put(char(0x80 | (unit & 0x3f)));
        } else if (!is_surrogate(unit)) {
            out.put(char(0xe0 | (unit >> 12)));
            out.put(char(0x80 | ((unit >> 6) & 0x3f)));
            out.put(char(0x80 | (unit & 0x3f)));
        } else {
            char16_t low;
            const bool more = units.next(low);
            if (more && is_high_surrogate(unit) && is_low_surrogate(low)) {
                const uint code = (uint(unit) << 10) + low - ((0xd800u << 10) + 0xdc00u - 0x10000u);
                out.put(char(0xf0 | (code >> 18)));
                out.put(char(0x80 | ((code >> 12) & 0x3f)));
                out.put(char(0x80 | ((code >> 6) & 0x3f)));
                out.put(char(0x80 | (code & 0x3f)));
            } else {
                put_json_unit_escape(out, unit);
                if (more) {
                    unit = low;
                    continue;
                }
                return;
            }
        }
        have = units.next(unit);
    }
}
