#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM and SIGINT end the event loop, so the process stops as it does when the loop ends
// by itself: every owner closes what it holds, and the exit status is 0. The signals arrive
// through a signalfd watched by the loop; nothing runs in a signal handler.
class stop_signals : public QObject
{
    Q_OBJECT
public:
    // Blocks both signals in the calling thread and in every thread it starts later. Call it
    // first thing in main, before any thread exists, or a thread may take a signal itself.
    static void block();

    // Quits the application when one of them arrives.
    explicit stop_signals(QObject* parent = nullptr);
    ~stop_signals() override;

private:
    void on_signal();

    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
};
