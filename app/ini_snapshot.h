#pragma once

#include "app/file_stamp.h"

#include <QByteArray>
#include <QString>
#include <chrono>
#include <cstdint>

// A private, unchanging copy of the ini file that the Qt settings class reads instead of the
// file itself. Qt keeps parsed ini files in a process-wide cache and re-reads a file only when
// its size or its modification time in milliseconds differs, so two edits of the same size in
// one millisecond would go unseen; every new copy gets a time stamp of its own, so Qt parses
// each copy afresh.
class ini_snapshot
{
public:
    ini_snapshot(const QString& path, std::chrono::milliseconds racy_window);
    ~ini_snapshot();
    ini_snapshot(const ini_snapshot&) = delete;
    ini_snapshot& operator=(const ini_snapshot&) = delete;

    // Brings the copy up to date with the file and returns its version, which changes exactly
    // when the file's content does. Cheap while the file keeps its stamp: one stat(). A missing
    // file reads as empty. A file that is there but cannot be read (no descriptor free, a read
    // error, something other than a file at the path) reads as empty only until the file has
    // been read once; after that the content read last is kept, and the next call tries again.
    std::uint64_t refresh();
    // Whether the last call could not read the file (it could, or found no file: false), and
    // why.
    bool failed() const { return failure_ != 0; }
    QString failure() const;
    // Whether the content in use was read from the file (or the file was found missing).
    bool has_read() const { return has_read_; }
    // The path to hand to QSettings for the current version.
    const QString& settings_path() const { return settings_path_; }

private:
    void publish(const QByteArray& content);

    const QString path_;
    const QByteArray native_path_;
    const std::chrono::milliseconds racy_window_;
    file_stamp stamp_;
    bool trusted_ = false;
    QByteArray content_;
    int failure_ = 0; // errno, or not_regular_file
    bool has_read_ = false;
    std::uint64_t version_ = 0;
    int fd_ = -1;
    QString settings_path_;
};
