#include "json/json_text.h"

#include "json/json_document.h"
#include "json/json_string_escape.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

void append_qt_json_string(QByteArray& out, QStringView text)
{
    staged_bytes staged(out);
    staged.put('"');
    json_view_units units(text);
    put_json_units(staged, units);
    staged.put('"');
}

void append_qt_json_string(QByteArray& out, std::string_view utf8)
{
    for (const char c : utf8) {
        if (c < 0x20 || c > 0x7e || c == '"' || c == '\\') {
            append_qt_json_string(out, QString::fromUtf8(utf8.data(), int(utf8.size())));
            return;
        }
    }
    out.reserve(out.size() + int(utf8.size()) + 2);
    out.append('"');
    out.append(utf8.data(), int(utf8.size()));
    out.append('"');
}

void append_qt_json_value(QByteArray& out, const QJsonValue& value)
{
    if (value.isObject()) {
        out += QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
    } else if (value.isArray()) {
        out += QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact);
    } else if (value.isString()) {
        append_qt_json_string(out, value.toString());
    } else {
        // Qt writes a lone value only as the element of an array: the array's text without its
        // brackets.
        const QByteArray text = QJsonDocument(QJsonArray { value }).toJson(QJsonDocument::Compact);
        out.append(text.constData() + 1, text.size() - 2);
    }
}

QJsonValue read_qt_json_value(const QByteArray& json)
{
    return read_json_document('[' + json + ']').array().at(0);
}
