// Bytes as a request body: compact_json and read_json_document must agree with QJsonDocument on
// all they answer (see against_qt), and append_qt_json_string with Qt's writer on the same bytes
// taken as UTF-16, whatever surrogates they make. Bytes that hold a 0xff, which no JSON text
// does, are also taken as keys between those bytes, made into an object large enough to be
// sorted by its keys' prefixes: each key over and over, with a number each (Qt keeps no value
// of a repeated key that is not a number). Any difference aborts.
#include "fuzz_app.h"
#include "tests/support/compact_json_against_qt.h"

#include <algorithm>
#include <cstdint>

namespace {

// The keys between 0xff bytes, as many times over as fill an object of at least 64 members.
QByteArray object_of_keys(const QByteArray& bytes)
{
    const QList<QByteArray> keys = bytes.split('\xff');
    const int members = std::max(64, keys.size());
    QByteArray object = "{";
    for (int i = 0; i < members; ++i) {
        // A scattered order, each key with the others around it in turns.
        const QByteArray& key = keys[i * 7 % keys.size()];
        object += (i ? ",\"" : "\"") + key + "\":" + QByteArray::number(i);
    }
    return object + "}";
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    start_fuzz_app();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char*>(data), int(size));
    abort_on_difference(against_qt::body(body), body);
    if (body.contains('\xff')) {
        const QByteArray object = object_of_keys(body);
        abort_on_difference(against_qt::body(object), object);
    }
    abort_on_difference(
        against_qt::string_escape(QString(reinterpret_cast<const QChar*>(data), int(size / 2))),
        body);
    return 0;
}
