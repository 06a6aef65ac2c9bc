#include "router/method_not_found.h"

#include "router/http_exception.h"

void throw_method_not_found(int method)
{
    if (method == qhttp::EHTTP_DELETE)
        throw http_exception(QString(), 404);
    throw http_exception(QStringLiteral("method not found"), 404);
}
