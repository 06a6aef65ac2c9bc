#include "handlers/modem/tornel_event_journals.h"

namespace {

QStringList make_journals()
{
    QStringList journals;
    for (int i = 0; i <= 10; ++i)
        journals << QStringLiteral("0.0.99.98.%1.255").arg(i);
    return journals;
}

const QStringList event_journals = make_journals();

} // namespace

const QStringList& tornel_event_journals()
{
    return event_journals;
}

QString tornel_journal_of(int type)
{
    if (type < 0 || type >= event_journals.size())
        return QStringLiteral("unknown type");
    return event_journals.at(type);
}
