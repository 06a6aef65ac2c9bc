#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/socket.h>

// One application object for the whole run (timers, notifiers and deleteLater want one), and
// no Qt warnings: a run feeds millions of inputs, most of them malformed on purpose.
inline void start_fuzz_app()
{
    static int argc = 1;
    static char name[] = "gorvex-fuzz";
    static char* argv[] = { name, nullptr };
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
}

// One turn of the event loop, with the deletions it deferred.
inline void turn()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Reads and drops whatever the code under test has sent to the fuzzer's end of a connection.
inline void drain(int fd)
{
    char sink[65536];
    while (::recv(fd, sink, sizeof sink, MSG_DONTWAIT) > 0) { }
}

// Ends the run when the code under test and its reference differ on `input`: what differs is
// printed with the input, percent-encoded. An empty `difference` is agreement.
inline void abort_on_difference(const std::string& difference, const QByteArray& input)
{
    if (difference.empty())
        return;
    std::fprintf(
        stderr, "differ on %s\n%s\n", input.toPercentEncoding().constData(), difference.c_str());
    std::abort();
}
