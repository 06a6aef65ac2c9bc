#pragma once

#include "access/distinct_list.h"

#include <QString>
#include <QStringView>
#include <vector>

// Ids a request names that are no views into a text of its own (the keys of a JSON body, the
// numbers of an array), gathered in one text: each costs its characters and an offset, not a
// QString.
class named_ids
{
public:
    void add(const QString& id)
    {
        texts_ += id;
        ends_.push_back(texts_.size());
    }

    // Each id once, in the order first added, as views into this, which must not change while
    // they are in use.
    distinct_list<QStringView> distinct() const
    {
        distinct_list<QStringView> ids;
        qsizetype begin = 0;
        for (qsizetype end : ends_) {
            ids.add(QStringView(texts_).mid(begin, end - begin));
            begin = end;
        }
        return ids;
    }

private:
    QString texts_;
    std::vector<qsizetype> ends_;
};
