#include "app/logger.h"

#include <QByteArray>
#include <QDateTime>
#include <QMutexLocker>
#include <QThread>
#include <cstdio>

namespace {

QByteArray level_word(int level)
{
    switch (level) {
    case LOG_OFF:
        return QByteArrayLiteral("Off");
    case LOG_ERROR:
        return QByteArrayLiteral("Error");
    case LOG_WARNING:
        return QByteArrayLiteral("Warning");
    case LOG_DEBUG:
        return QByteArrayLiteral("Debug");
    default:
        return QByteArray::number(level);
    }
}

QByteArray thread_id_text()
{
    return "0x" + QByteArray::number(quintptr(QThread::currentThreadId()), 16);
}

void write_stream(FILE* stream, const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

int parse_log_level(const QString& name)
{
    if (name == QLatin1String("OFF"))
        return LOG_OFF;
    if (name == QLatin1String("ERROR"))
        return LOG_ERROR;
    if (name == QLatin1String("WARNING"))
        return LOG_WARNING;
    if (name == QLatin1String("INFORM"))
        return LOG_INFORM;
    if (name == QLatin1String("DEBUG"))
        return LOG_DEBUG;
    return LOG_ERROR;
}

logger::logger(const QString& path, const QString& name, int level)
    : level_(level)
    , path_(path)
    , name_(name)
    , target_(target::file)
{
    if (path == QLatin1String("stdout")) {
        target_ = target::out;
    } else if (path == QLatin1String("stderr")) {
        target_ = target::err;
    } else {
        file_.setFileName(path);
        // Lines to a file that cannot be opened are lost; say so once, where someone may look.
        if (!file_.open(QIODevice::WriteOnly | QIODevice::Append)) {
            const QByteArray why
                = ("gorvex: cannot open log file \"" + path + "\": " + file_.errorString() + "\n")
                      .toLocal8Bit();
            write_stream(stderr, why);
        }
    }
}

logger::~logger()
{
    QMutexLocker lock(&mutex_);
    if (file_.isOpen())
        file_.close();
}

void logger::set_level(int level)
{
    QMutexLocker lock(&mutex_);
    level_.store(level, std::memory_order_relaxed);
}

void logger::write(const QString& text, int level)
{
    if (!accepts(level))
        return;

    // The time is taken under the lock so that lines of several threads stay in time order.
    QMutexLocker lock(&mutex_);
    QByteArray line = QDateTime::currentDateTime()
                          .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss,zzz"))
                          .toLatin1();
    if (level == LOG_INFORM) {
        line += ' ';
    } else {
        line += thread_id_text();
        line += ' ';
        line += level_word(level);
        line += ' ';
    }
    line += text.toLocal8Bit();
    line += "\r\n";

    // One write per line, flushed at once, so a line is never split or held back.
    switch (target_) {
    case target::out:
        write_stream(stdout, line);
        break;
    case target::err:
        write_stream(stderr, line);
        break;
    case target::file:
        if (file_.isOpen()) {
            file_.write(line);
            file_.flush();
        }
        break;
    }
}

log_line::log_line(logger& target, int level)
    : target_(target.accepts(level) ? &target : nullptr)
    , level_(level)
{
    if (target_) {
        text_.reserve(target.name().size() + 64);
        text_ += target.name();
        text_ += QLatin1String(": ");
    }
}

log_line::~log_line()
{
    if (target_)
        target_->write(text_, level_);
}

log_line& log_line::operator<<(const QString& text)
{
    if (target_)
        text_ += text;
    return *this;
}

log_line& log_line::operator<<(const char* text)
{
    if (target_)
        text_ += QLatin1String(text);
    return *this;
}

log_line& log_line::operator<<(int value)
{
    if (target_)
        text_ += QString::number(value);
    return *this;
}
