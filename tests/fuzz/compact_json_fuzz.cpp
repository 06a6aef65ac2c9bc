// Bytes as a request body: compact_json and read_json_document must agree with QJsonDocument on
// all they answer (see against_qt), and append_qt_json_string with Qt's writer on the same bytes
// taken as UTF-16, whatever surrogates they make. Any difference aborts.
#include "fuzz_app.h"
#include "tests/support/compact_json_against_qt.h"

#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    start_fuzz_app();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char*>(data), int(size));
    abort_on_difference(against_qt::body(body), body);
    abort_on_difference(
        against_qt::string_escape(QString(reinterpret_cast<const QChar*>(data), int(size / 2))),
        body);
    return 0;
}
