#pragma once

#include <QString>

// The path of the read-parameters handler, shared by the gateway and server route lists.
inline QString gateway_read_params_path()
{
    return QStringLiteral("/gateway/") + QStringLiteral("read_params");
}
