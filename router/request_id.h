#pragma once

#include <QString>

// A fresh request id: a random (version 4) UUID in its braced text form, 38 characters. The
// id only has to be unique, not unpredictable, so it comes from the process's seeded generator
// rather than from the system's entropy source, which may cost a system call or a slow CPU
// instruction per id.
QString make_request_id();
