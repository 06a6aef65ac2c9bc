// input_shapes: the inputs of bench/input_cost.sh that take more than a line of awk to make,
// written to stdout one per line. The same arguments always give the same output.
//
//   input_shapes ids KIND COUNT        modem ids of 22 characters:
//       ordinary  distinct ids of lower-case letters;
//       qt-hash   ids made of the blocks "An", "BO" and "C0", which add the same to Qt 5's
//                 unseeded hash of a QString (h = 31 * h + c over its UTF-16 units), so that all
//                 of them share one hash;
//       crc       ids whose UTF-16 units share one CRC-32C, so one hash under any seed of Qt's
//                 seeded hash of a QString where the processor has the instruction.
//   input_shapes tokens KIND COUNT BYTES   three-part tokens of BYTES bytes, distinct in their
//                                          last 21 letters:
//       crc       sharing one CRC-32C of their bytes, so one hash of the token cache's key;
//       plain     those letters chosen freely.
//   input_shapes token KIND BYTES      one token of three equal parts of Base64 letters, about
//                                      BYTES long (the same length for every kind):
//       opaque    letters that decode to no JSON;
//       numbers   each part decodes to an array of thousands of small numbers;
//       nested    each part decodes to an array of thousands of arrays nested ten deep.
//   input_shapes keys KIND COUNT BYTES    JSON object keys of BYTES bytes as written in the body
//                                         (without their quotes), distinct:
//       random    lower-case letters chosen freely;
//       prefix    all but their last 8 bytes one shared run of "p", in descending order;
//       escaped   the same with the shared run made of escaped surrogate pairs ("\ud83d\ude00",
//                 12 bytes each) as far as they fit, "p" after them.
#include "crc32c_family.h"

#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

const size_t id_length = 22;
// The last letters of a token, those that tell the tokens of one kind apart.
const size_t token_tail = 21;

std::vector<std::string> ids(const std::string& kind, size_t count)
{
    std::vector<std::string> out;
    if (kind == "qt-hash") {
        // 31 * 'A' + 'n' == 31 * 'B' + 'O' == 31 * 'C' + '0': each block adds the same to the hash
        // wherever it stands.
        static const char* const blocks[] = { "An", "BO", "C0" };
        for (size_t i = 0; out.size() < count; ++i) {
            std::string id;
            for (size_t n = i, b = 0; b < id_length / 2; ++b, n /= 3)
                id += blocks[n % 3];
            out.push_back(id);
        }
    } else if (kind == "crc") {
        std::vector<size_t> positions;
        for (size_t i = 1; i < id_length; ++i)
            positions.push_back(i);
        out = crc32c_family("x" + std::string(id_length - 1, 'a'), positions, 2, count);
    } else if (kind == "ordinary") {
        std::mt19937_64 random(2);
        std::set<std::string> seen;
        while (out.size() < count) {
            std::string id = "o";
            while (id.size() < id_length)
                id += char('a' + random() % 26);
            if (seen.insert(id).second)
                out.push_back(id);
        }
    }
    return out;
}

// The letters of a token's part: a length that is a multiple of four, so that each part
// decodes to whole bytes and every kind has the same length.
size_t part_letters(size_t bytes)
{
    return std::max<size_t>(8, (bytes - 2) / 3 / 4 * 4);
}

std::vector<std::string> tokens(const std::string& kind, size_t count, size_t bytes)
{
    const size_t part = part_letters(bytes);
    const std::string letters(part, 'a');
    const std::string base = letters + "." + letters + "." + letters;
    std::vector<size_t> tail;
    for (size_t i = base.size() - token_tail; i < base.size(); ++i)
        tail.push_back(i);
    if (kind == "crc")
        return crc32c_family(base, tail, 1, count);
    std::vector<std::string> out;
    if (kind != "plain")
        return out;
    std::mt19937_64 random(3);
    std::set<std::string> seen;
    while (out.size() < count) {
        std::string token = base;
        for (const size_t at : tail)
            token[at] = "acegikmo"[random() % 8];
        if (seen.insert(token).second)
            out.push_back(token);
    }
    return out;
}

std::string base64(const std::string& bytes)
{
    static const char alphabet[]
        = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i + 2 < bytes.size(); i += 3) {
        const unsigned v = unsigned(static_cast<unsigned char>(bytes[i])) << 16
            | unsigned(static_cast<unsigned char>(bytes[i + 1])) << 8
            | unsigned(static_cast<unsigned char>(bytes[i + 2]));
        for (int shift = 18; shift >= 0; shift -= 6)
            out += alphabet[v >> shift & 63];
    }
    return out;
}

// A JSON array of `item` repeated to fill exactly `size` bytes (blanks make up the rest).
std::string filled_array(const std::string& item, size_t size)
{
    std::string json = "[" + item;
    while (json.size() + item.size() + 2 <= size)
        json += "," + item;
    json += std::string(size - json.size() - 1, ' ') + "]";
    return json;
}

std::string token(const std::string& kind, size_t bytes)
{
    const size_t part = part_letters(bytes);
    std::string decoded;
    if (kind == "numbers") {
        decoded = filled_array("1", part / 4 * 3);
    } else if (kind == "nested") {
        decoded = filled_array(std::string(10, '[') + std::string(10, ']'), part / 4 * 3);
    } else if (kind == "opaque") {
        // Each part starts with bits that decode to a control byte: no JSON at all.
        std::mt19937_64 random(4);
        std::string letters = "A";
        while (letters.size() < part)
            letters += char('a' + random() % 26);
        return letters + "." + letters + "." + letters;
    } else {
        return std::string();
    }
    const std::string encoded = base64(decoded);
    return encoded + "." + encoded + "." + encoded;
}

std::vector<std::string> keys(const std::string& kind, size_t count, size_t bytes)
{
    std::vector<std::string> out;
    if (bytes < 8)
        return out;
    if (kind == "random") {
        std::mt19937_64 random(5);
        std::set<std::string> seen;
        while (out.size() < count) {
            std::string key;
            while (key.size() < bytes)
                key += char('a' + random() % 26);
            if (seen.insert(key).second)
                out.push_back(key);
        }
        return out;
    }
    std::string prefix;
    if (kind == "escaped") {
        while (prefix.size() + 12 <= bytes - 8)
            prefix += "\\ud83d\\ude00";
    } else if (kind != "prefix") {
        return out;
    }
    prefix += std::string(bytes - 8 - prefix.size(), 'p');
    char suffix[32];
    for (size_t i = count; i-- > 0;) {
        std::snprintf(suffix, sizeof suffix, "%08zu", i);
        out.push_back(prefix + suffix);
    }
    return out;
}

void print(const std::vector<std::string>& lines)
{
    for (const std::string& line : lines)
        std::printf("%s\n", line.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    const std::string what = argc > 1 ? argv[1] : "";
    const std::string kind = argc > 2 ? argv[2] : "";
    std::vector<std::string> out;
    if (what == "ids" && argc == 4)
        out = ids(kind, size_t(std::atol(argv[3])));
    else if (what == "tokens" && argc == 5)
        out = tokens(kind, size_t(std::atol(argv[3])), size_t(std::atol(argv[4])));
    else if (what == "keys" && argc == 5)
        out = keys(kind, size_t(std::atol(argv[3])), size_t(std::atol(argv[4])));
    else if (what == "token" && argc == 4)
        out = { token(kind, size_t(std::atol(argv[3]))) };
    if (out.empty() || out.front().empty()) {
        std::fprintf(stderr, "usage: see the comment at the top of input_shapes.cpp\n");
        return 2;
    }
    print(out);
    return 0;
}
