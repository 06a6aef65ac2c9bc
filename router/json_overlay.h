#pragma once

#include "json/compact_json.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <optional>
#include <string_view>
#include <vector>

// The JSON object of a request: the members of its body, with members laid over them. Each
// change is made as a QJsonObject makes it (the member its search finds for a key, the one it
// replaces, where a new one goes), and the text is the one Qt would write for that object, but
// the body is never built into a document: Qt's DOM costs up to some forty bytes per byte of a
// body, while here the body's members stay the compact text compact_json made of them, four
// bytes each besides what it keeps, and go out as that text. Only the members laid over are
// held as values.
class json_overlay
{
public:
    json_overlay() = default;
    explicit json_overlay(const QJsonObject& object);
    // The members that QJsonDocument::fromJson(body).object() has: none unless the body is an
    // object. The body is kept (shared) as long as the overlay.
    explicit json_overlay(compact_json body);

    // As insert_all(QJsonObject&, from) leaves the object.
    void insert_all(const QJsonObject& from);
    // As QJsonObject::insert, for a defined value.
    void insert(const QString& key, const QJsonValue& value);
    // The same, the value given as its compact text (as toJson(QJsonDocument::Compact) writes
    // it), which goes out as given.
    void insert_text(const QString& key, QByteArray json);
    // As add_api_keys does: the member as an array (an empty one when it is absent or not an
    // array) with the texts appended as strings. An array held as text gets them at the end of
    // its text.
    void append_strings(const QString& key, const QStringList& texts);

    bool contains(const QString& key) const;
    // QJsonObject::value, but an array or an object held as text reads empty: what a handler
    // reads of such a member is its kind, never its items.
    QJsonValue shallow_value(const QString& key) const;

    // QJsonDocument(object).toJson(QJsonDocument::Compact) of the object.
    QByteArray compact_text() const;

private:
    struct own_member
    {
        QString key;
        QJsonValue value;
        QByteArray text; // the value's compact text instead, when not null
    };

    QString key_of(qint32 entry) const;
    // Where QJsonObject's search for the key ends, and whether it finds the key there.
    std::size_t search(const QString& key, bool& found) const;
    void put(std::size_t at, bool found, own_member member);
    bool ascending() const;
    // The key's UTF-8 bytes when they sort as its UTF-16 units do: no escape, no character from
    // U+D000 up.
    std::optional<std::string_view> plain_key(qint32 body_member) const;
    // The members of both in key order, of a key in both the one of `from`.
    void merge_sorted(const QJsonObject& from);

    std::optional<compact_json> body_;
    // Until the object is made anew, the body's members keep the keys the parser made, which
    // Qt's search compares otherwise than their QStrings.
    bool parsed_keys_ = true;
    // The members in order: a member of the body by its index, own_[i] as ~i.
    std::vector<qint32> order_;
    std::vector<own_member> own_;
};
