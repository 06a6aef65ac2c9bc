#pragma once

#include <QAbstractEventDispatcher>
#include <QtGlobal>
#include <atomic>
#include <cstdint>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

class QSocketNotifier;

// The event loop of one thread on Linux epoll. Qt's own dispatcher polls every open socket on
// each turn, so its cost grows with the idle connections a gateway holds; here a turn costs
// what is ready, whatever the number of sockets watched.
//
// Socket notifiers are level-triggered epoll registrations; changes to them are applied just
// before the next wait, so a notifier switched off and on in one turn costs one system call at
// most. Timers are kept ordered by their deadline; the wait ends at the first one that is not
// being delivered. Wake-ups from other threads go through an eventfd.
class epoll_event_dispatcher : public QAbstractEventDispatcher
{
    Q_OBJECT
public:
    explicit epoll_event_dispatcher(QObject* parent = nullptr);
    ~epoll_event_dispatcher() override;

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;
    bool hasPendingEvents() override;

    void registerSocketNotifier(QSocketNotifier* notifier) override;
    void unregisterSocketNotifier(QSocketNotifier* notifier) override;

    void registerTimer(
        int timerId, int interval, Qt::TimerType timerType, QObject* object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject* object) override;
    QList<TimerInfo> registeredTimers(QObject* object) const override;
    int remainingTime(int timerId) override;

    // The descriptor is closed next, its notifiers stopped: closing takes it out of epoll, so
    // no change is made for it (the change would fail on the closed descriptor). Goes to the
    // dispatcher whose loop runs on the calling thread, if any.
    static void forget_closing(int fd);

    void wakeUp() override;
    void interrupt() override;
    void flush() override;

private:
    // What is watched on one descriptor: a notifier per type (read, write, exception).
    struct fd_watch
    {
        QSocketNotifier* notifiers[3] = { nullptr, nullptr, nullptr };
        // Goes up with every registration, so the events of a socket that went are not taken
        // for those of a new one on the same descriptor.
        std::uint32_t generation = 0;
        std::uint32_t applied_events = 0; // what epoll watches now
        std::uint32_t applied_generation = 0;
        bool in_epoll = false;
        bool dirty = false;
    };

    struct timer
    {
        int interval_ms; // rounded to whole seconds for very coarse timers
        Qt::TimerType type;
        QObject* object;
        std::int64_t deadline_ns;
        std::uint64_t order; // ties between equal deadlines go first come, first served
        std::uint64_t registration; // tells a timer from a later one with a reused id
        bool firing = false; // its event is being delivered: not again from a nested loop
    };
    using timer_key = std::pair<std::int64_t, std::uint64_t>;

    static std::uint32_t wanted_events(const fd_watch& watch);
    void mark_dirty(int fd);
    void apply_changes();
    int dispatch_socket_events(const struct epoll_event* events, int count, std::uint64_t turn);
    void schedule(int id, timer& t, std::int64_t now_ns, bool first);
    int activate_timers();
    int wait_timeout_ms(bool include_timers) const;
    void drain_wake_fd();
    bool wait_for_wake_only(int timeout_ms);

    int epoll_fd_ = -1;
    int wake_fd_ = -1;
    std::vector<fd_watch> watches_; // indexed by descriptor
    std::vector<int> dirty_fds_;

    std::unordered_map<int, timer> timers_;
    std::map<timer_key, int> deadlines_;
    std::uint64_t next_order_ = 0;
    std::uint64_t next_registration_ = 0;

    // Counts the turns, so a delivery that ran a nested loop is seen by the turn it came from.
    std::uint64_t turns_ = 0;
    // Counts the events this thread posted to itself. One posted while posted events are being
    // delivered is left for the next turn, so that turn must not wait.
    std::uint64_t posted_here_ = 0;
    std::atomic<bool> wake_pending_ { false };
    std::atomic<bool> interrupted_ { false };
};
