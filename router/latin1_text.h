#pragma once

#include <QByteArray>

// A UTF-8 text in Latin-1, as a header value is sent: characters outside Latin-1 become '?'.
// ASCII, the usual case, is taken as it is, without a conversion through QString.
QByteArray latin1_of_utf8(const QByteArray& utf8);
