// Bytes as an access token: in the "authorization" header, in the cookie, split at "." for
// the verifier, and as the payload of a token signed with the right key, which is the only
// way past the signature to the claims.
#include "fuzz_app.h"
#include "router/token_reader.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <cstdint>

namespace {

const QString sign_key = QStringLiteral("fuzz-key");

QByteArray signed_token(const QByteArray& header, const QByteArray& payload)
{
    const QByteArray p1 = header.toBase64();
    const QByteArray p2 = payload.toBase64();
    const QByteArray mac = QMessageAuthenticationCode::hash(
        p1 + '.' + p2, sign_key.toUtf8(), QCryptographicHash::Md5);
    return p1 + '.' + p2 + '.' + mac.toHex().toBase64();
}

token_cache& cache()
{
    static token_cache shared;
    return shared;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    start_fuzz_app();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray rest(reinterpret_cast<const char*>(data) + 1, int(size - 1));
    qhttp::THeaderHash headers;
    switch (data[0] % 5) {
    case 0:
        headers.insert("authorization", rest);
        break;
    case 1:
        headers.insert("cookie", rest);
        break;
    case 2: {
        HttpContext context;
        verify_token(rest.split('.'), context);
        return 0;
    }
    case 3:
        headers.insert(
            "authorization", "bearer " + signed_token(R"({"alg":"HS256","typ":"JWT"})", rest));
        break;
    default: {
        // Header and payload both chosen by the input, split at the first zero byte.
        const int cut = rest.indexOf('\0');
        headers.insert("cookie",
            "VORNIX_JWT="
                + signed_token(rest.left(cut < 0 ? 0 : cut), rest.mid(cut < 0 ? 0 : cut + 1)));
        break;
    }
    }
    token_text(headers);
    token_candidate(headers);
    read_token(headers, sign_key);
    read_token(headers, sign_key, cache());
    return 0;
}
