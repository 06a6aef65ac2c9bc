#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// How the text of an ini value becomes a field of a settings record.

// On unless the text is exactly "DISABLE".
bool on_unless_disable(const QString& text);
// On only when the text is exactly "ENABLE".
bool on_only_if_enable(const QString& text);
// Base-10 integer; not a number, or a number beyond the int range, gives 0.
int to_int32(const QString& text);
// Seconds in base 10 to milliseconds, clamped to the int range; not a number gives 0.
int seconds_to_ms(const QString& text);
// Unsigned base-10 integer; anything else (negative, too large, not a number) gives 0.
quint32 to_uint32(const QString& text);
// A directory path always ends in "/".
QString as_directory(const QString& text);
// Split at every ";", empty parts kept.
QStringList list_at_semicolon(const QString& text);

// R_BINDINGS: "exchange:routing key" parts joined by ",". Fields after a second ":" are ignored.
// Parts without ":", empty ones (",," or a final ",") included, are left out and, when
// `skipped` is given, appended to it. An empty text has no parts.
QList<QPair<QString, QString>> parse_bindings(const QString& text, QStringList* skipped = nullptr);
