#pragma once

#include <QFile>
#include <QMutex>
#include <QString>

// Levels: a line is written when its level is at or below the logger's level.
enum log_level : int { LOG_OFF = 0, LOG_ERROR = 1, LOG_WARNING = 2, LOG_INFORM = 3, LOG_DEBUG = 4 };

// One named log target: "stdout", "stderr" or a file path.
class logger {
public:
    logger(const QString& path, const QString& name, int level = LOG_ERROR);
    ~logger();
    logger(const logger&) = delete;
    logger& operator=(const logger&) = delete;

    void write(const QString& text, int level);
    void set_level(int level);
    int level() const { return level_; }
    const QString& path() const { return path_; }
    const QString& name() const { return name_; }

private:
    QMutex mutex_;
    QFile file_;
    int level_;
    QString path_;
    QString name_;
};

// Collects one line with << and writes it to its logger when the expression ends.
class log_line {
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
    logger* target_;
    int level_;
};
