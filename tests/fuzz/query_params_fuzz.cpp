// Bytes as a request target's query and, after the first zero byte, as a request body: the
// query map, the typed query object and the body with the query laid over it.
#include "fuzz_app.h"
#include "http/qhttp_wire.h"
#include "router/query_params.h"

#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    start_fuzz_app();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), int(size));
    const int cut = input.indexOf('\0');
    const QByteArray query = cut < 0 ? input : input.left(cut);
    const QByteArray body = cut < 0 ? QByteArray() : input.mid(cut + 1);

    parse_query_map(QString::fromUtf8(query));
    const QUrl url = qhttp::wire::request_url("/p?" + query);
    query_to_json(url);
    request_params(url, body);
    return 0;
}
