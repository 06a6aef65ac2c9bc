#include "app/stop_signals.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstring>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

sigset_t stop_set()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

} // namespace

void stop_signals::block()
{
    const sigset_t set = stop_set();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

stop_signals::stop_signals(QObject* parent)
    : QObject(parent)
{
    const sigset_t set = stop_set();
    fd_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ < 0) {
        qWarning("stop_signals: no signalfd: %s", strerror(errno));
        return;
    }
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &stop_signals::on_signal);
}

stop_signals::~stop_signals()
{
    delete notifier_;
    if (fd_ >= 0)
        ::close(fd_);
}

void stop_signals::on_signal()
{
    signalfd_siginfo info;
    bool arrived = false;
    while (::read(fd_, &info, sizeof info) == ssize_t(sizeof info))
        arrived = true;
    if (arrived)
        QCoreApplication::quit();
}
