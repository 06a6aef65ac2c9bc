#pragma once

#include "json/compact_json_string.h"

#include <QStringView>
#include <QtGlobal>
#include <vector>

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

// Qt's comparison of a key with a text it looks up (QJsonObject::value): a UTF-16 key by code
// unit, a UTF-8 one by code point.
int compare_json_key(const char* source, json_key key, QStringView text);

// Sorts the keys of one object after another of `source` as QJsonDocument::fromJson sorts an
// object's keys when it closes the object, and drops those Qt drops. Qt compares two keys
// UTF-8 against UTF-8 byte by byte up to a NUL byte (strncmp), UTF-16 against UTF-16 by code
// unit, one of each by code point with a lone surrogate taken as U+FFFD; mixed forms are not a
// consistent order. Each key is turned once into the form a comparison reads, and two keys are
// compared a block of bytes at a time: keys that share a long start cost about what their bytes
// cost to read. The buffers are kept from one object to the next.
class json_key_sorter
{
public:
    explicit json_key_sorter(const char* source)
        : source_(source)
    { }

    // Sorts the keys [first, last) with the same std::sort as Qt, which is not stable, and keeps
    // of each run of equal keys only the one that ends up last. first[-1] and *last must hold
    // json_key::lowest() and highest(): std::sort may walk past either end of a range whose
    // order is not consistent; the two sentinels stop it there. Returns the first key kept; the
    // kept keys end at `last`, in Qt's order.
    json_key* sort(json_key* first, json_key* last);
    // Gives back the memory kept for the next object.
    void release();

private:
    // A key with the start of its sort form as a number, so that most comparisons of a large
    // object's keys are one compare of two numbers rather than reads far apart in the body; a
    // UTF-16 key by the index of its forms.
    struct sort_key
    {
        quint64 prefix;
        json_key key;
    };
    // A UTF-16 key's units as Qt holds them and, for a comparison with a UTF-8 key, the UTF-8
    // of its code points.
    struct utf16_forms
    {
        quint32 begin; // of the key in the source
        quint32 units;
        quint32 unit_count;
        quint32 points;
        quint32 point_bytes;
    };

    int compare(json_key a, json_key b) const;
    void make_forms(const json_key* first, const json_key* last, bool points);

    const char* const source_;
    std::vector<sort_key> keys_;
    std::vector<utf16_forms> forms_;
    std::vector<char16_t> units_;
    std::vector<char> points_;
};
