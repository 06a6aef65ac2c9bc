#pragma once

#include "json/compact_json.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <optional>
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

    // As QJsonObject::insert of each member of `from` in turn leaves the object, in time of
    // about the members of both times the square root of their number at worst.
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
        QString key; // as Qt writes it
        QJsonValue value;
        QByteArray text; // the value's compact text instead, when not null
        // The body's member whose key this one keeps (Qt replaces a value, never the key it
        // holds), -1 when `key` is the key.
        qint32 body_key = -1;
    };

    // Qt's comparison of the key it holds for the entry with one it searches for: a key of the
    // body as the parser made it (with the byte order mark that its QString drops, by code point
    // when the parser kept it as UTF-8), any other as a QString.
    int compare_key(qint32 entry, const QString& key) const;
    // Where QJsonObject's search for the key ends in `order`, and whether it finds the key there.
    template <typename Order>
    std::size_t search(const Order& order, const QString& key, bool& found) const;
    template <typename Order>
    void put(Order& order, std::size_t at, bool found, own_member member);

    std::optional<compact_json> body_;
    // The members in order: a member of the body by its index, own_[i] as ~i.
    std::vector<qint32> order_;
    std::vector<own_member> own_;
};
