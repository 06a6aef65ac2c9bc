#pragma once

#include <QByteArray>
#include <QString>
#include <string_view>
#include <vector>

// UTF-8 texts kept end to end in one block: the answers of a store for a list as long as a
// caller's, where a QString each would cost some fifty bytes more per text.
class packed_texts
{
public:
    void reserve(std::size_t texts) { ends_.reserve(texts); }
    void append(const QByteArray& utf8)
    {
        bytes_.append(utf8);
        ends_.push_back(bytes_.size());
    }
    void append(const QString& text) { append(text.toUtf8()); }

    int size() const { return int(ends_.size()); }
    // The text up to its first NUL, as QString::fromUtf8 reads a QByteArray.
    QString text(int i) const
    {
        return QString::fromUtf8(bytes_.constData() + begin(i), length(i));
    }
    bool is_empty(int i) const { return length(i) == 0; }
    // The bytes of that text, up to its first NUL.
    std::string_view bytes(int i) const
    {
        return std::string_view(bytes_.constData() + begin(i), size_t(length(i)));
    }

private:
    int begin(int i) const { return i == 0 ? 0 : ends_[std::size_t(i) - 1]; }
    int length(int i) const
    {
        return int(qstrnlen(bytes_.constData() + begin(i), uint(ends_[std::size_t(i)] - begin(i))));
    }

    QByteArray bytes_;
    std::vector<int> ends_;
};
