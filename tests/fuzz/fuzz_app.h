#pragma once

#include <QCoreApplication>
#include <QtGlobal>

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
