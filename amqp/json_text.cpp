#include "amqp/json_text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// Qt writes a lone value only as the element of an array: the array's text without its
// brackets.
void append_element(QByteArray& out, const QJsonValue& value)
{
    const QByteArray text = QJsonDocument(QJsonArray { value }).toJson(QJsonDocument::Compact);
    out.append(text.constData() + 1, text.size() - 2);
}

} // namespace

bool is_plain_json_text(const QString& text)
{
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u < 0x20 || u > 0x7E || u == '"' || u == '\\')
            return false;
    }
    return true;
}

void append_qt_json_string(QByteArray& out, const QString& text)
{
    if (!is_plain_json_text(text)) {
        append_element(out, text);
        return;
    }
    // Its Latin-1 bytes, a stack chunk at a time rather than a call per character.
    char chunk[64];
    int used = 0;
    chunk[used++] = '"';
    for (const QChar c : text) {
        chunk[used++] = char(c.unicode());
        if (used == int(sizeof chunk)) {
            out.append(chunk, used);
            used = 0;
        }
    }
    out.append(chunk, used);
    out += '"';
}

void append_qt_json_value(QByteArray& out, const QJsonValue& value)
{
    if (value.isObject())
        out += QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
    else if (value.isArray())
        out += QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact);
    else
        append_element(out, value);
}
