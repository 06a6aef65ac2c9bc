#pragma once

#include <QObject>
#include <QPointer>
#include <vector>

class QAbstractEventDispatcher;

// Collects the broker connections that wrote during the current pass of the event loop and
// tells each when the pass is over: the event dispatcher's awake() (start of the next pass,
// nested loops included) or aboutToBlock(), whichever comes first. A connection holds the
// frames of a pass and sends them together then, so a busy link makes one write, one TCP
// segment and one wake-up of the broker per pass instead of per frame. Nothing waits for a
// timer: the pass that wrote is the pass whose end sends. One thread: the event loop's.
class write_batch : public QObject
{
    Q_OBJECT
public:
    class member
    {
    public:
        // The pass in which this member joined is over.
        virtual void end_write_batch() = 0;

    protected:
        ~member() = default;
    };

    // Adds m to the current pass; false without an event dispatcher on this thread (no pass
    // will end then, so the caller must not hold its output back).
    static bool join(member* m);
    // Takes m out before it goes away or closes its socket; its end_write_batch() is not called.
    static void leave(member* m);

private:
    write_batch() = default;
    static write_batch& instance();
    bool attach();
    void end_pass();

    QPointer<QAbstractEventDispatcher> dispatcher_;
    std::vector<member*> members_; // in the order they joined
};
