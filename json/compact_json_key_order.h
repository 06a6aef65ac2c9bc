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

// Qt's comparison of a key with a text it looks up (QJsonObject::value): a UTF-16 key by code
// unit, a UTF-8 one by code point.
int compare_json_key(const char* source, json_key key, QStringView text);

// Sorts the keys of one object after another of `source` as QJsonDocument::fromJson sorts an
// object's keys when it closes the object, and drops those Qt drops. Qt compares two keys
// UTF-8 against UTF-8 byte by byte up to a NUL byte (strncmp), UTF-16 against UTF-16 by code
// unit, one of each by code point with a lone surrogate taken as U+FFFD; mixed forms are not a
// consistent order. A large object is sorted in the place of its keys, each turned for the sort
// into one number that starts with its first bytes: most comparisons are one compare of two
// numbers, and the sort takes no memory of its own. Keys alike in those bytes are compared
// where they stand in the source, a run of text the two share skipped a block at a time.
class json_key_sorter
{
public:
    json_key_sorter(const char* source, qsizetype size);

    // Sorts the keys [first, last) with the same std::sort as Qt, which is not stable, and keeps
    // of each run of equal keys only the one that ends up last. first[-1] and *last must hold
    // json_key::lowest() and highest(): std::sort may walk past either end of a range whose
    // order is not consistent; the two sentinels stop it there. Returns the first key kept; the
    // kept keys end at `last`, in Qt's order.
    json_key* sort(json_key* first, json_key* last);

private:
    // While a large object is sorted, each of its keys is a number in the key's place, from its
    // lowest bit: where the key starts, whether it is escaped, whether its prefix (below) may not
    // order it, whether the prefix is the whole key, and the prefix squeezed into the bits left.
    // Where a key starts is 0 for the lowest sentinel (no key starts there, past a quote) and
    // all ones for the highest, whose number is all ones.
    quint64 begin_mask() const { return (quint64(1) << begin_bits_) - 1; }
    quint64 escaped_bit() const { return quint64(1) << begin_bits_; }
    quint64 slow_bit() const { return quint64(1) << (begin_bits_ + 1); }
    quint64 whole_bit() const { return quint64(1) << (begin_bits_ + 2); }
    int prefix_shift() const { return begin_bits_ + 3; }

    int compare(json_key a, json_key b) const;
    int compare_codes(quint64 a, quint64 b) const;
    json_key sorted_key(quint64 code) const;

    const char* const source_;
    const char* const end_;
    const int begin_bits_;
};
