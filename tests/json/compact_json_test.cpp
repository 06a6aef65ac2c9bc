#include "json/compact_json.h"

#include "tests/router/qt_print.h"
#include "tests/support/compact_json_against_qt.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <numeric>

namespace {

// A literal's bytes, NUL bytes included.
template <size_t N>
QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, int(N - 1));
}

QByteArray nested(const char* open, const char* close, int depth)
{
    return QByteArray(open).repeated(depth) + QByteArray(close).repeated(depth);
}

// 2^-1075 written out in full: half the least double, which rounds to zero (to even).
QByteArray half_the_least_double()
{
    QByteArray digits = "1"; // 5^1075, least significant digit first
    for (int power = 0; power < 1075; ++power) {
        int carry = 0;
        for (char& digit : digits) {
            const int product = (digit - '0') * 5 + carry;
            digit = char('0' + product % 10);
            carry = product / 10;
        }
        if (carry)
            digits.append(char('0' + carry));
    }
    std::reverse(digits.begin(), digits.end());
    return "0." + QByteArray(1075 - digits.size(), '0') + digits;
}

// Each body is checked against Qt itself (error, offset, text, members); where `text` is given,
// the compact text is also pinned, so that the row says what Qt does.
struct Case
{
    const char* name;
    QByteArray body;
    const char* text;
};

void expect_rows(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        EXPECT_EQ(against_qt::body(c.body), "") << c.name;
        if (c.text) {
            EXPECT_EQ(compact_json(c.body).text(), QByteArray(c.text)) << c.name;
        }
    }
}

TEST(CompactJson, AcceptsAndRefusesAsQt)
{
    expect_rows({
        { "empty", "", nullptr },
        { "bom_then_object", "\xef\xbb\xbf{}", "{}" },
        { "bom_alone", "\xef\xbb\xbf", nullptr },
        { "bom_twice", "\xef\xbb\xbf\xef\xbb\xbf[]", nullptr },
        { "four_spaces_only", " \t\r\n[ ] \n", "[]" },
        { "form_feed_is_no_space", "\f[]", nullptr },
        { "top_level_scalar", "1", nullptr },
        { "top_level_string", "\"a\"", nullptr },
        { "garbage_after", "{} x", nullptr },
        { "nul_after", bytes("[]\0"), nullptr },
        { "second_document", "[][]", nullptr },
        { "comma_before_close", "[1,]", nullptr },
        { "comma_before_brace", "{\"a\":1,}", nullptr },
        { "missing_colon", "{\"a\" 1}", nullptr },
        { "missing_comma", "[1 2]", nullptr },
        { "number_at_the_end", "[1", nullptr },
        { "literal_cut", "[nul]", nullptr },
        { "literal_at_the_end", "[true", nullptr },
        { "nesting_at_the_limit", nested("[", "]", 1024), nullptr },
        { "nesting_past_the_limit", nested("[", "]", 1025), nullptr },
        { "objects_past_the_limit", nested("{\"a\":", "}", 1024) + "1", nullptr },
        { "unterminated_string", "[\"abc", nullptr },
        { "backslash_at_the_end", "[\"a\\", nullptr },
        { "quote_at_the_end", "[\"a\"", nullptr },
    });
}

TEST(CompactJson, ReadsNumbersAsQt)
{
    expect_rows({
        { "integers_and_integral_doubles",
            "[0,-0,-0.0,1.0,1e5,1E+5,12.5e1,0e999,-9223372036854775808,9223372036854775807]",
            "[0,0,0,1,100000,100000,125,0,-9223372036854776000,9223372036854776000]" },
        { "past_int64_and_2_to_53",
            "[9223372036854775808,-9223372036854775809,18446744073709551615,18446744073709551616,"
            "9007199254740993,123456789012345678901,1e19,1e20]",
            "[9223372036854776000,-9223372036854776000,18446744073709552000,18446744073709552000,"
            "9007199254740992,123456789012345680000,10000000000000000000,1e+20]" },
        { "fractions_and_exponents",
            "[0.1,1.5e-7,1e-5,0.0001,1e21,123456.789e3,4.9e-324,1.7976931348623157e308]",
            "[0.1,1.5e-07,1e-05,0.0001,1e+21,123456789,5e-324,"
            "1.7976931348623157e+308]" },
        { "forms_qt_takes", "[.5,-.5,1.,0.e1]", "[0.5,-0.5,1,0]" },
        { "halfway_to_the_least_double", "[" + half_the_least_double() + "]", nullptr },
        { "just_past_halfway", "[" + half_the_least_double() + "1]", "[5e-324]" },
        { "digits_far_from_the_point",
            "[0." + QByteArray(400, '0') + "1e400,1" + QByteArray(400, '0') + "e-400]", "[0.1,1]" },
        { "overflow", "[1e309]", nullptr },
        { "underflow", "[1e-400]", nullptr },
        { "zero_with_huge_exponent", "[0.000e-99999]", "[0]" },
        { "sign_only", "[-]", nullptr },
        { "plus_sign", "[+1]", nullptr },
        { "exponent_without_digits", "[1e+]", nullptr },
        { "leading_zero", "[01]", nullptr },
        { "number_member", "{\"big\":9007199254740993,\"f\":2.5,\"n\":-7}", nullptr },
    });
}

TEST(CompactJson, WritesStringsAsQt)
{
    expect_rows({
        { "escapes_written_back", R"(["\"\\\/\b\f\n\r\t\u0001\u001f\u007f\u00e9"])",
            "[\"\\\"\\\\/\\b\\f\\n\\r\\t\\u0001\\u001f\x7f\xc3\xa9\"]" },
        { "raw_controls_and_nul", bytes("[\"a\x01\0b\"]"), "[\"a\\u0001\\u0000b\"]" },
        { "any_byte_may_follow_a_backslash", R"(["\q\'"])", R"(["q'"])" },
        { "pairs_and_lone_surrogates", R"(["\ud83d\ude00","\ude00\ud83d","\ud83dx"])",
            "[\"\xf0\x9f\x98\x80\",\"\\ude00\\ud83d\",\"\\ud83dx\"]" },
        { "backslash_before_a_high_byte", "[\"\\\xc3\"]", "[\"\xed\x9e\xbf\\udfc3\"]" },
        { "byte_order_mark_dropped_unescaped", "[\"\xef\xbb\xbfv\",\"\xef\xbb\xbf\\n\"]",
            "[\"v\",\"\xef\xbb\xbf\\n\"]" },
        { "bad_hex", R"(["\u12x4"])", nullptr },
        { "short_hex", R"(["\u12"])", nullptr },
        { "overlong_utf8", "[\"\xc0\x80\"]", nullptr },
        { "surrogate_in_utf8", "[\"\xed\xa0\x80\"]", nullptr },
        { "past_u10ffff", "[\"\xf4\x90\x80\x80\"]", nullptr },
        { "cut_utf8", "[\"\xe2\x82\"]", nullptr },
        { "bad_utf8_after_an_escape", "[\"\\n\xff\"]", nullptr },
    });
}

TEST(CompactJson, OrdersKeysAsQt)
{
    QByteArray unstable = "{";
    for (int i = 1; i <= 40; ++i)
        unstable += "\"" + QByteArray::number(i * 7 % 11, 16) + "\":" + QByteArray::number(i) + ",";
    unstable += "\"z\":0}";
    expect_rows({
        { "ascii", R"({"b":1,"a":{"d":2,"c":3},"":0})", R"({"":0,"a":{"c":3,"d":2},"b":1})" },
        { "utf8_by_bytes", "{\"\xf0\x9f\x98\x80\":1,\"\xef\xbc\xa1\":2}",
            "{\"\xef\xbc\xa1\":2,\"\xf0\x9f\x98\x80\":1}" },
        { "utf16_by_code_units", R"({"\uff21":2,"\ud83d\ude00":1})",
            "{\"\xf0\x9f\x98\x80\":1,\"\xef\xbc\xa1\":2}" },
        { "repeated_key_small_object_keeps_the_last", R"({"a":1,"b":2,"a":3})",
            R"({"a":3,"b":2})" },
        { "repeated_key_large_object_as_std_sort_leaves_it", unstable, nullptr },
        { "same_text_in_both_forms", "{\"\\u00e9\":1,\"\xc3\xa9\":2}", "{\"\xc3\xa9\":2}" },
        { "lone_surrogate_equals_u_fffd", "{\"\\ud800\":1,\"\xef\xbf\xbd\":2}", nullptr },
        { "nul_ends_a_utf8_comparison", bytes("{\"a\0b\":1,\"a\0c\":2}"), "{\"a\\u0000c\":2}" },
        { "mixed_forms_past_u_ffff",
            "{\"\\uffff\":1,\"\xf0\x90\x80\x80\":2,\"\\ud800\\udc00\":3,\"\xee\x80\x80\":4,"
            "\"\\ue000\":5,\"\\ud800\":6}",
            nullptr },
        { "byte_order_mark_in_a_key", "{\"\xef\xbb\xbf\x62\":1,\"a\":2}", nullptr },
        { "in_arrays_of_objects", R"([{"b":[{"y":1,"x":2}],"a":0},{"d":{},"c":[]}])",
            R"([{"a":0,"b":[{"x":2,"y":1}]},{"c":[],"d":{}}])" },
    });
}

// Objects large enough to be sorted by their keys' first eight bytes: keys that share them,
// keys that begin others, bytes above 0x7f and repeated keys must come out as Qt orders and
// keeps them, and a key that cannot be ordered by its first bytes alone (a NUL among them, or
// an escape) must leave the order as it is.
TEST(CompactJson, OrdersTheKeysOfALargeObjectAsQt)
{
    const auto large = [](const QByteArray& odd) {
        QByteArray body = "{";
        for (int i = 0; i < 300; ++i) {
            const int n = i * 97 % 150; // each key twice, in a scattered order
            const QByteArray stem = n % 3 == 0 ? "shared_prefix_" : n % 3 == 1 ? "sh" : "\xc3\xa9";
            body += "\"" + stem + QByteArray::number(n % 50) + "\":" + QByteArray::number(i) + ",";
        }
        body += "\"shared_p\":0,\"\":1,\"!\":1,\"\xf4\x8f\xbf\xbf\xf4\x8f\xbf\xbf\":2," + odd
            + ",\"last key of more than eight bytes\":0}";
        EXPECT_EQ(compact_json(body).error().error, QJsonParseError::NoError);
        return body;
    };
    QByteArray repeated = "\"x\":0";
    for (int i = 1; i <= 200; ++i)
        repeated += ",\"" + QByteArray::number(i * 7 % 11, 16) + "\":" + QByteArray::number(i);
    expect_rows({
        { "prefixes", large("\"z\":3"), nullptr },
        { "a_nul_among_the_first_bytes", large(bytes("\"sh\0b\":3,\"sh\0a\":4")), nullptr },
        { "an_escaped_key", large("\"\\u00e9x\":3"), nullptr },
        { "repeated_keys_as_std_sort_leaves_them", large(repeated), nullptr },
    });
}

// Keys that share a long start are compared a block at a time, each from the form Qt compares:
// the rows differ past the first sixteen bytes, where a slip in the block compare, a NUL it
// reads past, a form made from the wrong units or a comparison across forms read the wrong way
// round would order them otherwise than Qt or keep another of two equal keys.
TEST(CompactJson, OrdersKeysThatShareALongStartAsQt)
{
    // Each key twice, in a scattered order, so that which of two equal keys stays shows too.
    const auto object = [](int count, const std::function<QByteArray(int)>& key) {
        QByteArray body = "{";
        for (int i = 0; i < 2 * count; ++i)
            body += (i ? ",\"" : "\"") + key(i * 37 % (2 * count) % count)
                + "\":" + QByteArray::number(i);
        return body + "}";
    };
    const QByteArray plain(40, 'p');
    const QByteArray pairs = QByteArray("\\ud83d\\ude00").repeated(2);
    const QByteArray raw_pairs = QByteArray("\xf0\x9f\x98\x80").repeated(2);
    const auto n = [](int i) { return QByteArray::number(i); };
    expect_rows({
        { "plain_descending", object(80, [&](int i) { return plain + n(999 - i) + plain; }),
            nullptr },
        { "plain_nul_past_sixteen_bytes",
            object(80, [&](int i) { return plain + bytes("\0") + n(i % 3) + n(i); }), nullptr },
        { "escaped_units_apart_in_the_second_word",
            object(80, [&](int i) { return pairs + "\\u00" + n(10 + i % 90) + "xyz"; }), nullptr },
        { "escaped_keys_apart_in_their_first_units",
            object(80, [&](int i) { return "\\u0" + n(100 + i % 9) + n(i % 7); }), nullptr },
        { "a_small_object_of_escaped_keys",
            object(9, [&](int i) { return pairs + n(9 - i) + "\\u00e9"; }), nullptr },
        { "forms_mixed_past_a_shared_start",
            object(80,
                [&](int i) {
                    return (i % 2 ? pairs : raw_pairs) + (i % 3 ? "\\ue000" : "\xee\x80\x80")
                        + n(i % 7);
                }),
            nullptr },
        { "lone_surrogate_beside_u_fffd_past_a_shared_start",
            object(80,
                [&](int i) {
                    return plain + (i % 2 ? "\\udbff" : "\xef\xbf\xbd") + n(i % 5)
                        + (i % 3 ? "" : "\\u0000");
                }),
            nullptr },
    });
}

// An object large enough to be sorted by the numbers its keys' first bytes make, from `keys`
// each three times in a scattered order with a number each: what Qt keeps of a repeated key
// shows in its value.
QByteArray large_object(const std::vector<QByteArray>& keys)
{
    const int members = std::max<int>(3 * int(keys.size()), 64);
    // A step that shares no factor with the count visits every key.
    std::size_t step = 7;
    while (std::gcd(step, keys.size()) != 1)
        ++step;
    QByteArray body = "{";
    for (int i = 0; i < members; ++i) {
        body += (i ? ",\"" : "\"") + keys[size_t(i) * step % keys.size()]
            + "\":" + QByteArray::number(i);
    }
    return body + "}";
}

// Plain keys "k000".."k059" with others among them.
std::vector<QByteArray> among_plain(std::vector<QByteArray> keys)
{
    for (int i = 0; i < 60; ++i)
        keys.push_back("k" + QByteArray::number(i).rightJustified(3, '0'));
    return keys;
}

// Keys of each form in one large object: a key is compared whole on its own where its first
// bytes cannot order it, and each row names the slip that would order it otherwise than Qt.
TEST(CompactJson, OrdersKeysOfMixedFormsAsQt)
{
    std::vector<QByteArray> every_second;
    for (int i = 0; i < 80; ++i) {
        const QByteArray n = QByteArray::number(i * 13 % 80);
        every_second.push_back(i % 2 ? "\\u006bey" + n : "key" + n);
    }
    // Characters of U+E000 and above without escapes, surrogates escaped: the fewer of the two
    // kinds is compared whole, whichever it is.
    const std::vector<QByteArray> surrogates = { "\\ud800x", "\\udc00", "\\udbff\\udfff",
        "\\ud83d\\ude00", "\\ud83d", "\\ude00\\ud83d", "\\ue000", "\\uffff", "k0\\ud800" };
    const std::vector<QByteArray> high = { "\xee\x80\x80", "\xef\xbf\xbd", "\xef\xbf\xbf",
        "\xf0\x9f\x98\x80", "k0\xee\x80\x80", "\xef\xbc\xa1x" };
    std::vector<QByteArray> more_high = high;
    std::vector<QByteArray> more_surrogates = surrogates;
    for (int i = 0; i < 12; ++i) {
        more_high.push_back("\xee\x80\x80" + QByteArray::number(i));
        more_surrogates.push_back("\\udfff" + QByteArray::number(i));
    }
    const auto joined = [](std::vector<QByteArray> a, const std::vector<QByteArray>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    expect_rows({
        // The escaped key's number made from its text rather than its units.
        { "one_escaped_key_among_plain", large_object(among_plain({ "\\u006b030x" })), nullptr },
        // The same key in both forms, so that which of them stays shows: a key whole in its
        // number taken for equal to a key of the other form it is not.
        { "one_key_in_both_forms",
            large_object(among_plain({ "\\u006b031", "\\u006b03", "k03\\u0000" })), nullptr },
        { "every_second_key_escaped", large_object(every_second), nullptr },
        // A NUL among a key's first eight bytes ends Qt's comparison of two plain keys there: a
        // key that holds one not compared whole.
        { "nul_within_the_first_eight_bytes",
            large_object(
                among_plain({ bytes("k0\0b"), bytes("k0\0a1"), bytes("k\0"), bytes("k0\0") })),
            nullptr },
        // Past them the whole comparison stops at the NUL: read past it, and the lengths no
        // longer decide.
        { "nul_beyond_the_first_eight_bytes",
            large_object(
                among_plain({ bytes("k0123456\0b"), bytes("k0123456\0a1"), bytes("k0123456\0") })),
            nullptr },
        { "nul_beyond_the_first_sixteen_bytes",
            large_object(among_plain({ bytes("k0123456789abcde\0b"), bytes("k0123456789abcde\0a1"),
                bytes("k0123456789abcde\0") })),
            nullptr },
        // Surrogates beside U+E000 and up in the other form, the one kind or the other the
        // fewer: neither marked, or the wrong one read, and Qt's order is not kept.
        { "surrogates_fewer_than_high_characters",
            large_object(among_plain(joined({ "\\ud800x", "\\ud83d\\ude00" }, more_high))),
            nullptr },
        { "high_characters_fewer_than_surrogates",
            large_object(among_plain(joined(more_surrogates, { "\xee\x80\x80", "\xef\xbf\xbd" }))),
            nullptr },
        { "surrogates_and_high_characters", large_object(among_plain(joined(surrogates, high))),
            nullptr },
        // Surrogates among escaped keys alone order by unit, whatever else the object holds.
        { "lone_surrogates_beside_pairs", large_object(among_plain(surrogates)), nullptr },
    });
}

// A key whole in the number its first bytes make is equal to a key of the same number: not so
// for a key that fills those bytes (sixteen of plain keys, eight where an object holds an
// escaped key) beside one a byte longer, a unit cut at the eighth byte, a key of one more zero
// unit, or keys apart in bits left out where an object's keys hold more bytes in each place
// than a number has bits for.
TEST(CompactJson, OrdersKeysAlikeInTheirFirstBytesAsQt)
{
    // Keys of "a" and "b" alone, so that a number holds every bit they differ in.
    std::vector<QByteArray> ab;
    for (int i = 0; i < 64; ++i) {
        QByteArray key;
        for (int bit = 0; bit < 6; ++bit)
            key += (i >> bit) & 1 ? 'b' : 'a';
        ab.push_back(key.left(1 + i % 6));
    }
    const auto with = [&ab](std::vector<QByteArray> keys) {
        keys.insert(keys.end(), ab.begin(), ab.end());
        return large_object(keys);
    };
    // Keys that hold every printable character but the quote and the backslash in each of
    // their first eight bytes: more bits than a number holds, the last byte's left out.
    QByteArray printable;
    for (char c = ' '; c <= '~'; ++c) {
        if (c != '"' && c != '\\')
            printable += c;
    }
    std::vector<QByteArray> every_byte
        = { "~~~~~~~a", "~~~~~~~b", "\\u007e\\u007e\\u007e\\u007e\\u007e\\u007e\\u007e\\u0062" };
    for (int i = 0; i < printable.size(); ++i) {
        QByteArray key;
        for (int j = 0; j < 8; ++j)
            key += printable[(i * (j % 3 ? 2 : 1) + j) % printable.size()];
        every_byte.push_back(key);
    }
    // The same past eight bytes alike, where plain keys alone give sixteen.
    std::vector<QByteArray> sixteen_every_byte
        = { QByteArray(15, '~') + 'a', QByteArray(15, '~') + 'b' };
    for (int i = 0; i < printable.size(); ++i) {
        QByteArray key(8, '~');
        for (int j = 0; j < 8; ++j)
            key += printable[(i * (j % 3 ? 2 : 1) + j) % printable.size()];
        sixteen_every_byte.push_back(key);
    }
    expect_rows({
        { "eight_bytes_and_nine", with({ "abababab", "ababababa", "\\u0061" }), nullptr },
        { "sixteen_bytes_and_seventeen", with({ "abababababababab", "ababababababababa" }),
            nullptr },
        { "a_unit_cut_at_the_eighth_byte", with({ "abababa\\u00e9", "abababa\\u00e8" }), nullptr },
        { "one_more_zero_unit", with({ "abab\\u0000", "abab" }), nullptr },
        { "apart_in_bits_left_out", large_object(every_byte), nullptr },
        { "apart_in_bits_left_out_of_sixteen", large_object(sixteen_every_byte), nullptr },
    });
}

// Keys that share a long start written apart: escapes and characters that give the same units,
// runs of backslashes, escaped quotes, and keys that part inside an escape or a character.
TEST(CompactJson, OrdersKeysWrittenApartPastALongStartAsQt)
{
    const auto keys = [](const std::function<QByteArray(int)>& key) {
        std::vector<QByteArray> out;
        for (int i = 0; i < 40; ++i)
            out.push_back(key(i));
        return large_object(out);
    };
    const auto n = [](int i) { return QByteArray::number(i); };
    const QByteArray start(24, 'p');
    const QByteArray escaped_start = QByteArray("\\u0070").repeated(24);
    const QByteArray slashes = QByteArray("\\\\").repeated(20);
    expect_rows({
        // Units alike written apart, then text alike again: the comparison must pick up where
        // both texts stand between two characters.
        { "escapes_and_characters_alike", keys([&](int i) {
             return (i % 3 ? start : escaped_start) + (i % 2 ? "\\u00e9" : "\xc3\xa9") + start
                 + n(i % 13);
         }),
            nullptr },
        { "plain_beside_escaped_alike", keys([&](int i) {
             return i % 2 ? start + "\xc3\xa9" + start + n(i % 11)
                          : escaped_start + "\\u00e9" + start + n(i % 11);
         }),
            nullptr },
        // A key that begins another that goes on with a byte below the quote: the key whose
        // text ends first is the shorter, whatever byte the other goes on with.
        { "plain_keys_that_begin_others", keys([&](int i) {
             return start + n(i % 10) + (i % 3 ? " !" : i % 2 ? "\x01" : "");
         }),
            nullptr },
        // A run of escaped backslashes longer than a block, before an escape or not.
        { "runs_of_backslashes", keys([&](int i) {
             return slashes + (i % 3 ? "\\\\" : "") + (i % 2 ? "\\u0041" : "A") + n(i % 7);
         }),
            nullptr },
        // A quote escaped near the end of a key is not its end.
        { "escaped_quotes", keys([&](int i) {
             return start + (i % 2 ? "\\\"" : "\\\\") + n(i % 9) + (i % 3 ? "\\\"" : "");
         }),
            nullptr },
        // Texts that part within an escape's digits, or within a character's bytes.
        // (hexadecimal digits whose bytes sort otherwise than their values)
        { "apart_inside_an_escape",
            keys([&](int i) { return escaped_start + "\\u00e" + (i % 2 ? "B" : "a") + n(i % 20); }),
            nullptr },
        { "apart_inside_a_character", keys([&](int i) {
             return escaped_start + (i % 2 ? "\xc3\xa9" : "\xc3\xaa")
                 + (i % 3 ? "\xe2\x82\xac" : "\xe2\x82\xad") + n(i % 5);
         }),
            nullptr },
        // Pairs and lone surrogates past a long shared start, in both forms.
        { "surrogates_past_a_long_start", keys([&](int i) {
             return (i % 2 ? start : escaped_start)
                 + (i % 3 == 0        ? "\\ud83d\\ude00"
                         : i % 3 == 1 ? "\xf0\x9f\x98\x80"
                                      : "\\ud83d")
                 + n(i % 4);
         }),
            nullptr },
    });
}

// A body written as the writer writes is its own text, shared rather than written again; a
// body that differs anywhere is written.
TEST(CompactJson, AWrittenBodyIsItsOwnText)
{
    struct row
    {
        const char* name;
        QByteArray body;
        bool own_text;
    };
    const row rows[] = {
        { "object", "{\"a\":[1,-20,true,null,\"x\xc3\xa9\x7f\"],\"b\":{\"c\":{},\"d\":[]}}", true },
        { "array", "[[[]],{\"b\":1,\"c\":2},-999999999999999]", true },
        { "space", "{\"a\": 1}", false },
        { "space_at_the_end", "[1]\n", false },
        { "byte_order_mark", "\xef\xbb\xbf[1]", false },
        { "minus_zero", "[-0]", false },
        { "fraction", "[1.0]", false },
        { "exponent", "[1e2]", false },
        { "past_2_to_53", "[9007199254740993]", false },
        { "escape", "[\"\\u0041\"]", false },
        { "escape_in_a_key", "{\"\\u0041\":1}", false },
        { "control", "[\"a\tb\"]", false },
        { "byte_order_mark_in_a_string", "[\"\xef\xbb\xbfv\"]", false },
        { "top_level_keys_out_of_order", "{\"b\":1,\"a\":2}", false },
        { "nested_keys_out_of_order", "[{\"b\":1,\"a\":2}]", false },
        { "repeated_key", "{\"a\":1,\"a\":2}", false },
        { "top_level_members_put_in_order", "{\"b\":[1,{\"x\":[]}],\"a\":\"s\",\"b\":2,\"10\":{}}",
            false },
        { "nested_repeated_key", "[{\"a\":1,\"a\":2}]", false },
        // The values of members put in order end where their own text ends.
        { "top_level_values_that_hold_commas_and_brackets",
            "{\"b\":\",}]\\\"\",\"a\":[{\"c\":\"]\"},2],\"c\":0}", false },
    };
    for (const row& r : rows) {
        EXPECT_EQ(against_qt::body(r.body), "") << r.name;
        const compact_json json(r.body);
        EXPECT_EQ(json.text().constData() == r.body.constData(), r.own_text) << r.name;
    }
}

TEST(CompactJson, GivesTopLevelMembers)
{
    const compact_json json(R"({"s":"t\u00e9","o":{"b":1,"a":2},"n":null,"a":[1,2],"i":-3,)"
                            R"("d":0.5,"t":true,"f":false})");
    ASSERT_TRUE(json.is_object());
    ASSERT_EQ(json.size(), 8);
    EXPECT_EQ(json.key(0), "a");
    EXPECT_EQ(json.value_text(0), "[1,2]");
    EXPECT_EQ(json.value_text(json.index_of(u"o")), R"({"a":2,"b":1})");
    EXPECT_EQ(json.value_kind(json.index_of(u"o")), compact_json::kind::object);
    EXPECT_EQ(json.scalar(json.index_of(u"s")), QJsonValue(QString::fromUtf8("t\xc3\xa9")));
    EXPECT_TRUE(json.scalar(json.index_of(u"a")).isUndefined());
    EXPECT_EQ(json.variant_text(json.index_of(u"d")), "0.5");
    EXPECT_TRUE(json.variant_text(json.index_of(u"o")).isEmpty());
    EXPECT_EQ(json.index_of(u"x"), -1);
    EXPECT_EQ(against_qt::body(json.text()), "");

    const compact_json array("[{\"a\":1}]");
    EXPECT_TRUE(array.is_array());
    EXPECT_EQ(array.size(), 0);
    EXPECT_EQ(array.text(), "[{\"a\":1}]");
}

TEST(CompactJson, EscapesAStringAsTheWriter)
{
    const QString texts[] = {
        QString::fromUtf16(u"plain"),
        QString::fromUtf16(u"\"\\/\b\f\n\r\t\x01\x1f\x7f"),
        QString::fromUtf16(u"\u00e9\u20ac\U0001F600"),
        QString(QChar(0xd800)) + "x" + QChar(0xdc00) + QChar(0xd83d),
        QString(QChar(0)),
        QString(),
    };
    for (const QString& text : texts)
        EXPECT_EQ(against_qt::string_escape(text), "") << against_qt::shown(text);
}

} // namespace
