#pragma once

#include "json/compact_json_string.h"

#include <QStringView>
#include <QtGlobal>

// A member's key where it stands in the source text: the offset of its first character (just
// past the opening quote), its length in bytes up to the closing quote, and the form Qt keeps it
// in. Eight bytes, so that an object's keys cost little while they wait to be sorted.
class json_key
{
public:
    json_key() = default;
    json_key(quint32 begin, quint32 size, json_string_form form)
        : begin_(begin)
        , size_(size | (form == json_string_form::utf16 ? utf16_bit : 0))
    { }

    // Keys that sort before and after every other; an object's keys are sorted between two.
    static json_key lowest() { return json_key(sentinel_begin, 0); }
    static json_key highest() { return json_key(sentinel_begin, 1); }

    quint32 begin() const { return begin_; }
    quint32 size() const { return size_ & ~utf16_bit; }
    json_string_form form() const
    {
        return (size_ & utf16_bit) ? json_string_form::utf16 : json_string_form::utf8;
    }
    bool is_sentinel() const { return begin_ == sentinel_begin; }
    bool is_highest() const { return is_sentinel() && size_ == 1; }

private:
    static constexpr quint32 utf16_bit = 0x80000000u;
    static constexpr quint32 sentinel_begin = 0xffffffffu;

    json_key(quint32 begin, quint32 size_bits)
        : begin_(begin)
        , size_(size_bits)
    { }

    quint32 begin_ = 0;
    quint32 size_ = 0;
};

// Qt's comparison of two keys of `source` when it sorts an object: UTF-8 against UTF-8 byte by
// byte up to a NUL byte (strncmp), UTF-16 against UTF-16 by code unit, one of each by code
// point with a lone surrogate taken as U+FFFD. Mixed forms are not a consistent order.
int compare_json_keys(const char* source, json_key a, json_key b);

// Qt's comparison of a key with a text it looks up (QJsonObject::value): a UTF-16 key by code
// unit, a UTF-8 one by code point.
int compare_json_key(const char* source, json_key key, QStringView text);

// Sorts the keys [first, last) of one object and drops those Qt drops, as QJsonDocument::fromJson
// does: the same std::sort, which is not stable, and of each run of equal keys only the one
// that ends up last. first[-1] and *last must hold json_key::lowest() and highest(): Qt's
// comparison is not a strict weak order when key forms mix, and std::sort may then walk past
// either end of a range; the two sentinels stop it there. Returns the first key kept; the kept
// keys end at `last`, in Qt's order.
json_key* sort_json_keys(const char* source, json_key* first, json_key* last);
