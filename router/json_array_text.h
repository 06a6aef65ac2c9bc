#pragma once

#include <QByteArray>
#include <QStringView>
#include <QtGlobal>

// A JSON array written straight as text, byte for byte as QJsonDocument::toJson(Compact) writes
// the QJsonArray of the same items, for a list a caller sent that goes into a command as a
// ready member: no QJsonValue per item, and a run of equal items written once and copied.
class json_array_text
{
public:
    json_array_text() { text_.append('['); }

    // `count` items whose text is `item` (an item's compact JSON text).
    void add_text(const char* item, int size, qsizetype count = 1);
    // `count` items of the number `value`, as Qt writes a whole number.
    void add_int(int value, qsizetype count = 1);
    // `count` items of the string `text`, escaped as Qt escapes it.
    void add_string(QStringView text, qsizetype count = 1);

    // The array, closed.
    QByteArray take();

private:
    QByteArray text_;
    bool empty_ = true;
};

// The compact text of an int as Qt writes it: its decimal digits.
int write_json_int(char* out, int value);
