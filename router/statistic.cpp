#include "router/statistic.h"

QString request_state_name(request_state state)
{
    switch (state) {
    case WAIT:
        return QStringLiteral("WAIT");
    case EXECUTED:
        return QStringLiteral("EXECUTED");
    case FAIL_BAN_BY_TIME:
        return QStringLiteral("FAIL_BAN_BY_TIME");
    case FAIL_TOKEN_INVALID:
        return QStringLiteral("FAIL_TOKEN_INVALID");
    case FAIL_TOKEN_EXPIRED:
        return QStringLiteral("FAIL_TOKEN_EXPIRED");
    }
    // A value from outside the enum still shows as something readable.
    return QString::number(static_cast<qint32>(state));
}
