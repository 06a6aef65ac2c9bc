#pragma once

#include <QString>
#include <QStringList>

// The OBIS codes of the meters' eleven event journals; the journal number is the position,
// 0 to 10. Built once, before the first request, and never changed.
const QStringList& tornel_event_journals();

// The journal code of an event's "type"; "unknown type" outside 0 to 10.
QString tornel_journal_of(int type);
