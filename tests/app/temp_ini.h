#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// An ini file in a directory of its own, removed with the object.
class temp_ini
{
public:
    temp_ini();
    const QString& path() const { return path_; }
    QString dir_path() const { return dir_.path(); }

    // Writes the file in place (same inode), stamped with the current time.
    void write(const QByteArray& content);
    // Writes a new file next to it and renames it over the old one (new inode).
    void replace(const QByteArray& content);
    // Sets both access and modification time; ctime becomes now.
    void set_mtime(qint64 seconds, long nanoseconds);

private:
    QTemporaryDir dir_;
    QString path_;
};
