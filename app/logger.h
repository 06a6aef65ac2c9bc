#pragma once

#include <QFile>
#include <QMutex>
#include <QString>
#include <atomic>

// Levels: a line is written when its level is at or below the logger's level.
enum log_level : int { LOG_OFF = 0, LOG_ERROR = 1, LOG_WARNING = 2, LOG_INFORM = 3, LOG_DEBUG = 4 };

// "OFF", "ERROR", "WARNING", "INFORM" or "DEBUG", exactly as written; anything else is LOG_ERROR.
int parse_log_level(const QString& name);

// One named log target: "stdout", "stderr" or a file path.
class logger
{
public:
    logger(const QString& path, const QString& name, int level = LOG_ERROR);
    ~logger();
    logger(const logger&) = delete;
    logger& operator=(const logger&) = delete;

    void write(const QString& text, int level);
    void set_level(int level);
    int level() const { return level_.load(std::memory_order_relaxed); }
    const QString& path() const { return path_; }
    const QString& name() const { return name_; }
    // True when a line of this level would be written.
    bool accepts(int level) const { return level <= this->level(); }

private:
    enum class target { out, err, file };

    QMutex mutex_;
    QFile file_;
    std::atomic<int> level_;
    QString path_;
    QString name_;
    target target_;
};

// Collects one line with << and writes it to its logger when the expression ends.
class log_line
{
public:
    log_line(logger& target, int level);
    ~log_line();
    log_line(const log_line&) = delete;
    log_line& operator=(const log_line&) = delete;

    log_line& operator<<(const QString& text);
    log_line& operator<<(const char* text);
    log_line& operator<<(int value);

private:
    QString text_;
    logger* target_; // null when the logger drops this line's level: nothing is composed then
    int level_;
};
