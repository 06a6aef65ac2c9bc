#pragma once

#include <QByteArray>
#include <QStringView>
#include <QtGlobal>
#include <utility>

// A JSON array written straight as text, byte for byte as QJsonDocument::toJson(Compact) writes
// the QJsonArray of the same items, for a list a caller sent that goes into a command as a
// ready member: no QJsonValue per item, and a run of equal items written once and copied.
class json_array_text
{
public:
    json_array_text() { text_.append('['); }
    // Items added after those of `array`, the compact text of an array.
    explicit json_array_text(QByteArray array)
        : text_(std::move(array))
    {
        text_.chop(1);
    }

    // `count` items whose text is `item` (an item's compact JSON text).
    void add_text(const char* item, int size, qsizetype count = 1);
    // `count` items of the number `value`, as Qt writes a whole number.
    void add_int(int value, qsizetype count = 1);
    // `count` items of the string `text`, escaped as Qt escapes it.
    void add_string(QStringView text, qsizetype count = 1);

    // The array, closed.
    QByteArray take();

private:
    // Puts the comma before an item unless it is the first.
    void separate();

    QByteArray text_;
};
