#pragma once

#include "http/qhttp_header_key.h"

#include <QByteArray>
#include <QHash>
#include <QPair>
#include <QVector>

namespace qhttp {

// Method numbers are libhttp-parser's own: DELETE 0, GET 1, HEAD 2, POST 3, PUT 4, ...
enum THttpMethod : int {
    EHTTP_DELETE = 0,
    EHTTP_GET = 1,
    EHTTP_HEAD = 2,
    EHTTP_POST = 3,
    EHTTP_PUT = 4,
};

// Request header table: keyed by lower-case names.
using THeaderHash = QHash<header_key, QByteArray>;

// Room for the headers of a usual message.
constexpr int usual_header_count = 16;

// Headers in the order they were added (answers) or arrived (client responses), letter case
// of the names kept. Setting a name already present (case-insensitive) replaces its value
// in place.
class THeaderList
{
public:
    void set(const QByteArray& name, const QByteArray& value);
    void add(const QByteArray& name, const QByteArray& value); // keeps duplicates
    // Puts that header in place of the one at `index`, without looking at the others.
    void replace(int index, const QByteArray& name, const QByteArray& value)
    {
        items_[index] = qMakePair(name, value);
    }
    // Value of the first header of that name, compared without regard to letter case;
    // empty when absent.
    QByteArray value(const QByteArray& name) const;
    bool has(const QByteArray& name) const;
    void remove(const QByteArray& name);
    const QVector<QPair<QByteArray, QByteArray>>& items() const { return items_; }
    bool isEmpty() const { return items_.isEmpty(); }
    // Room for that many headers in one block, so that adding them does not grow it stepwise.
    void reserve(int count) { items_.reserve(count); }

private:
    // A vector keeps the pairs in one block; a list would allocate each of them on its own.
    QVector<QPair<QByteArray, QByteArray>> items_;
};

// Name of a method number as the parser spells it ("GET", "POST", ...).
QByteArray method_name(int method);

} // namespace qhttp
