// Bytes as a request target's query and, after the first zero byte, as a request body: the
// query map, the typed query object and the body with the query laid over it, which must be
// written as Qt writes a document of the body with each query item inserted in turn, before and
// after API keys are appended to it. Any difference aborts.
#include "fuzz_app.h"
#include "http/qhttp_wire.h"
#include "router/json_helpers.h"
#include "router/query_params.h"
#include "json/json_document.h"

#include <QJsonDocument>
#include <cstdint>
#include <string>

namespace {

void agree(const json_overlay& laid, const QJsonObject& document, const QByteArray& input)
{
    const QByteArray mine = laid.compact_text();
    const QByteArray qt = QJsonDocument(document).toJson(QJsonDocument::Compact);
    abort_on_difference(mine == qt ? std::string()
                                   : "overlay " + mine.toPercentEncoding().toStdString()
                + "\nQt      " + qt.toPercentEncoding().toStdString(),
        input);
}

} // namespace

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
    // Read in place as Latin-1, the map must be that of the widened text.
    const bool same_as_latin1 = parse_query_map(QLatin1String(query), [](QStringView) {
        return true;
    }) == parse_query_map(QString::fromLatin1(query));
    abort_on_difference(same_as_latin1 ? std::string() : "the query map read as Latin-1", input);
    const QUrl url = qhttp::wire::request_url("/p?" + query);
    const QJsonObject items = query_to_json(url);
    json_overlay laid = request_params(url, body);

    // Qt's document of the body, read without the leak of a repeated key's dropped value (the
    // compact_json target holds that reading to Qt's own); a body that is not valid is an empty
    // object to both.
    QJsonObject document = read_json_document(body).object();
    for (auto it = items.constBegin(); it != items.constEnd(); ++it)
        document.insert(it.key(), it.value());
    agree(laid, document, input);
    const QStringList keys { QStringLiteral("k") };
    laid.append_strings(QStringLiteral("api_key"), keys);
    add_api_keys(document, keys);
    agree(laid, document, input);
    return 0;
}
