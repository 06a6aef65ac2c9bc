#include "app/epoll_event_dispatcher.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimerEvent>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

Q_CORE_EXPORT uint qGlobalPostedEventsCount();

namespace {

constexpr std::int64_t ns_per_ms = 1000 * 1000;
constexpr std::int64_t ns_per_s = 1000 * ns_per_ms;
constexpr int max_events = 256;
// The epoll key of the wake-up eventfd; a socket's key holds its descriptor in the low half.
constexpr std::uint64_t wake_key = ~std::uint64_t(0);

// The dispatcher whose loop runs on this thread: posts and interrupts from its own thread need
// no eventfd write, as the loop looks for them before it waits.
thread_local epoll_event_dispatcher* running_here = nullptr;

std::int64_t now_ns()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * ns_per_s + ts.tv_nsec;
}

std::int64_t round_up(std::int64_t value, std::int64_t step)
{
    return (value + step - 1) / step * step;
}

// A coarse timer may fire up to 5% late; its deadline goes to the next round boundary within
// that slack, so timers of similar periods come due in the same turn.
std::int64_t coarse_deadline(std::int64_t expected_ns, int interval_ms)
{
    const int slack_ms = interval_ms / 20;
    for (const int step_ms : { 500, 250, 100, 50, 25, 10, 5, 1 }) {
        if (step_ms <= slack_ms)
            return round_up(expected_ns, step_ms * ns_per_ms);
    }
    return expected_ns;
}

// Notifier type (QSocketNotifier::Read, Write, Exception) -> the epoll events that wake it.
// A hang-up or an error wakes the readers and the writers: they learn of it by trying.
constexpr std::uint32_t activating[3]
    = { EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR, EPOLLOUT | EPOLLHUP | EPOLLERR, EPOLLPRI };
constexpr std::uint32_t watched[3] = { EPOLLIN, EPOLLOUT, EPOLLPRI };

} // namespace

epoll_event_dispatcher::epoll_event_dispatcher(QObject* parent)
    : QAbstractEventDispatcher(parent)
    , epoll_fd_(epoll_create1(EPOLL_CLOEXEC))
    , wake_fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    if (epoll_fd_ < 0 || wake_fd_ < 0)
        qFatal("epoll_event_dispatcher: no epoll or eventfd: %s", strerror(errno));
    epoll_event ev {};
    ev.events = EPOLLIN;
    ev.data.u64 = wake_key;
    if (epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, wake_fd_, &ev) != 0)
        qFatal("epoll_event_dispatcher: cannot watch the eventfd: %s", strerror(errno));
}

epoll_event_dispatcher::~epoll_event_dispatcher()
{
    if (running_here == this)
        running_here = nullptr;
    ::close(wake_fd_);
    ::close(epoll_fd_);
}

bool epoll_event_dispatcher::processEvents(QEventLoop::ProcessEventsFlags flags)
{
    running_here = this;
    interrupted_.store(false, std::memory_order_relaxed);
    const std::uint64_t turn = ++turns_;
    emit awake();

    const std::uint64_t posted_before = posted_here_;
    QCoreApplication::sendPostedEvents();

    const bool include_timers = !(flags & QEventLoop::X11ExcludeTimers);
    const bool include_notifiers = !(flags & QEventLoop::ExcludeSocketNotifiers);
    const bool may_wait = (flags & QEventLoop::WaitForMoreEvents) && posted_here_ == posted_before
        && !interrupted_.load(std::memory_order_relaxed);
    const int timeout = may_wait ? wait_timeout_ms(include_timers) : 0;
    if (timeout != 0)
        emit aboutToBlock();

    int handled = 0;
    if (include_notifiers) {
        apply_changes();
        epoll_event events[max_events];
        const int count = epoll_wait(epoll_fd_, events, max_events, timeout);
        if (count > 0)
            handled += dispatch_socket_events(events, count, turn);
        else if (count < 0 && errno != EINTR)
            qWarning("epoll_event_dispatcher: epoll_wait: %s", strerror(errno));
    } else if (wait_for_wake_only(timeout)) {
        ++handled;
    }
    if (include_timers)
        handled += activate_timers();
    return handled > 0;
}

bool epoll_event_dispatcher::hasPendingEvents()
{
    return qGlobalPostedEventsCount() > 0;
}

// --- socket notifiers ---

std::uint32_t epoll_event_dispatcher::wanted_events(const fd_watch& watch)
{
    std::uint32_t events = 0;
    for (int type = 0; type < 3; ++type) {
        if (watch.notifiers[type])
            events |= watched[type];
    }
    return events;
}

void epoll_event_dispatcher::registerSocketNotifier(QSocketNotifier* notifier)
{
    const int fd = int(notifier->socket());
    const int type = int(notifier->type());
    if (fd < 0 || type < 0 || type > 2) {
        qWarning("epoll_event_dispatcher: cannot watch descriptor %d", fd);
        return;
    }
    if (std::size_t(fd) >= watches_.size())
        watches_.resize(std::max<std::size_t>(std::size_t(fd) + 1, watches_.size() * 2));
    fd_watch& watch = watches_[std::size_t(fd)];
    if (watch.notifiers[type] == notifier)
        return;
    if (watch.notifiers[type])
        qWarning("epoll_event_dispatcher: several notifiers of one type on descriptor %d", fd);
    // Nothing is known of a notifier once it has stopped: the one registered now may be a new
    // socket's, at the address of one freed and on the descriptor of one closed in this turn,
    // which left epoll with its descriptor. A new generation has it watched afresh.
    ++watch.generation;
    watch.notifiers[type] = notifier;
    mark_dirty(fd);
}

void epoll_event_dispatcher::unregisterSocketNotifier(QSocketNotifier* notifier)
{
    const int fd = int(notifier->socket());
    const int type = int(notifier->type());
    if (fd < 0 || std::size_t(fd) >= watches_.size() || type < 0 || type > 2)
        return;
    fd_watch& watch = watches_[std::size_t(fd)];
    if (watch.notifiers[type] != notifier)
        return;
    watch.notifiers[type] = nullptr;
    mark_dirty(fd);
}

void epoll_event_dispatcher::forget_closing(int fd)
{
    epoll_event_dispatcher* self = running_here;
    if (!self || fd < 0 || std::size_t(fd) >= self->watches_.size())
        return;
    fd_watch& watch = self->watches_[std::size_t(fd)];
    if (wanted_events(watch) == 0)
        watch.in_epoll = false;
}

void epoll_event_dispatcher::mark_dirty(int fd)
{
    fd_watch& watch = watches_[std::size_t(fd)];
    if (watch.dirty)
        return;
    watch.dirty = true;
    dirty_fds_.push_back(fd);
}

// A descriptor closed while watched has left epoll by itself, and its number may come back
// as a new socket: a failed change is retried as the other operation.
void epoll_event_dispatcher::apply_changes()
{
    for (const int fd : dirty_fds_) {
        fd_watch& watch = watches_[std::size_t(fd)];
        watch.dirty = false;
        const std::uint32_t events = wanted_events(watch);
        if (events == 0) {
            if (watch.in_epoll)
                epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, fd, nullptr);
            watch.in_epoll = false;
            continue;
        }
        if (watch.in_epoll && events == watch.applied_events
            && watch.generation == watch.applied_generation)
            continue;
        epoll_event ev {};
        ev.events = events;
        ev.data.u64 = (std::uint64_t(watch.generation) << 32) | std::uint32_t(fd);
        int op = watch.in_epoll ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
        int result = epoll_ctl(epoll_fd_, op, fd, &ev);
        if (result != 0 && (errno == ENOENT || errno == EEXIST)) {
            op = op == EPOLL_CTL_MOD ? EPOLL_CTL_ADD : EPOLL_CTL_MOD;
            result = epoll_ctl(epoll_fd_, op, fd, &ev);
        }
        if (result != 0) {
            qWarning("epoll_event_dispatcher: cannot watch descriptor %d: %s", fd, strerror(errno));
            watch.in_epoll = false;
            continue;
        }
        watch.in_epoll = true;
        watch.applied_events = events;
        watch.applied_generation = watch.generation;
    }
    dirty_fds_.clear();
}

// Events are looked up again before each delivery: a notifier may stop, and its descriptor
// may pass to another socket, while the ones before it are delivered. When a delivery ran a
// nested loop, the rest of the batch is stale; the next wait reports again what is still ready.
int epoll_event_dispatcher::dispatch_socket_events(
    const epoll_event* events, int count, std::uint64_t turn)
{
    int handled = 0;
    for (int i = 0; i < count && turns_ == turn; ++i) {
        const std::uint64_t key = events[i].data.u64;
        if (key == wake_key) {
            drain_wake_fd();
            ++handled;
            continue;
        }
        const std::size_t fd = std::uint32_t(key);
        const std::uint32_t generation = std::uint32_t(key >> 32);
        for (int type = 0; type < 3 && turns_ == turn; ++type) {
            if (!(events[i].events & activating[type]) || fd >= watches_.size()
                || watches_[fd].generation != generation)
                continue;
            QSocketNotifier* notifier = watches_[fd].notifiers[type];
            if (!notifier)
                continue;
            QEvent event(QEvent::SockAct);
            QCoreApplication::sendEvent(notifier, &event);
            ++handled;
        }
    }
    return handled;
}

// --- timers ---

void epoll_event_dispatcher::registerTimer(
    int timerId, int interval, Qt::TimerType timerType, QObject* object)
{
    if (timerId < 1 || interval < 0 || !object) {
        qWarning("epoll_event_dispatcher: invalid timer");
        return;
    }
    // Within 20 ms, 5% is under a millisecond; beyond 20 s it is over a second.
    if (timerType == Qt::CoarseTimer && interval <= 20)
        timerType = Qt::PreciseTimer;
    if (timerType == Qt::CoarseTimer && interval >= 20000)
        timerType = Qt::VeryCoarseTimer;
    if (timerType == Qt::VeryCoarseTimer)
        interval = (interval + 500) / 1000 * 1000;

    unregisterTimer(timerId);
    timer& t = timers_[timerId];
    t.interval_ms = interval;
    t.type = timerType;
    t.object = object;
    t.registration = ++next_registration_;
    t.firing = false;
    schedule(timerId, t, now_ns(), true);
}

// The next deadline keeps the period when the loop keeps up, and restarts from now when it
// fell behind, so a late loop does not fire a burst of catch-up events.
void epoll_event_dispatcher::schedule(int id, timer& t, std::int64_t now, bool first)
{
    if (!first)
        deadlines_.erase({ t.deadline_ns, t.order });
    const std::int64_t interval = std::int64_t(t.interval_ms) * ns_per_ms;
    std::int64_t expected = first ? now + interval : t.deadline_ns + interval;
    if (expected < now)
        expected = now + interval;
    if (interval == 0)
        t.deadline_ns = now;
    else if (t.type == Qt::VeryCoarseTimer)
        t.deadline_ns = round_up(expected, ns_per_s);
    else if (t.type == Qt::CoarseTimer)
        t.deadline_ns = coarse_deadline(expected, t.interval_ms);
    else
        t.deadline_ns = expected;
    t.order = ++next_order_;
    deadlines_.emplace(timer_key { t.deadline_ns, t.order }, id);
}

bool epoll_event_dispatcher::unregisterTimer(int timerId)
{
    const auto it = timers_.find(timerId);
    if (it == timers_.end())
        return false;
    deadlines_.erase({ it->second.deadline_ns, it->second.order });
    timers_.erase(it);
    return true;
}

bool epoll_event_dispatcher::unregisterTimers(QObject* object)
{
    std::vector<int> ids;
    for (const auto& entry : timers_) {
        if (entry.second.object == object)
            ids.push_back(entry.first);
    }
    for (const int id : ids)
        unregisterTimer(id);
    return !ids.empty();
}

QList<QAbstractEventDispatcher::TimerInfo> epoll_event_dispatcher::registeredTimers(
    QObject* object) const
{
    QList<TimerInfo> list;
    for (const auto& entry : timers_) {
        if (entry.second.object == object)
            list.append(TimerInfo(entry.first, entry.second.interval_ms, entry.second.type));
    }
    return list;
}

int epoll_event_dispatcher::remainingTime(int timerId)
{
    const auto it = timers_.find(timerId);
    if (it == timers_.end())
        return -1;
    const std::int64_t left = it->second.deadline_ns - now_ns();
    return left <= 0 ? 0 : int(qMin<std::int64_t>(round_up(left, ns_per_ms) / ns_per_ms, INT_MAX));
}

// A timer whose event is being delivered (one that runs a nested loop) is not due in that loop:
// its deadline would only make the loop spin.
int epoll_event_dispatcher::wait_timeout_ms(bool include_timers) const
{
    if (!include_timers)
        return -1;
    for (const auto& [key, id] : deadlines_) {
        if (timers_.at(id).firing)
            continue;
        const std::int64_t left = key.first - now_ns();
        if (left <= 0)
            return 0;
        return int(qMin<std::int64_t>(round_up(left, ns_per_ms) / ns_per_ms, INT_MAX));
    }
    return -1;
}

// Each timer due when the turn looks fires once; one that became due meanwhile (a zero timer
// started by a handler, say) waits for the next turn, so timers cannot starve the sockets.
int epoll_event_dispatcher::activate_timers()
{
    if (deadlines_.empty())
        return 0;
    const std::int64_t now = now_ns();
    std::vector<std::pair<int, std::uint64_t>> due;
    for (auto it = deadlines_.begin(); it != deadlines_.end() && it->first.first <= now; ++it)
        due.emplace_back(it->second, timers_.at(it->second).registration);

    int handled = 0;
    for (const auto& [id, registration] : due) {
        auto it = timers_.find(id);
        if (it == timers_.end() || it->second.registration != registration || it->second.firing
            || it->second.deadline_ns > now)
            continue;
        schedule(id, it->second, now, false);
        it->second.firing = true;
        QTimerEvent event(id);
        QCoreApplication::sendEvent(it->second.object, &event);
        ++handled;
        it = timers_.find(id); // the handler may have stopped or restarted any timer
        if (it != timers_.end() && it->second.registration == registration)
            it->second.firing = false;
    }
    return handled;
}

// --- wake-ups ---

void epoll_event_dispatcher::wakeUp()
{
    if (running_here == this) {
        ++posted_here_;
        return;
    }
    if (!wake_pending_.exchange(true)) {
        const std::uint64_t one = 1;
        while (::write(wake_fd_, &one, sizeof one) < 0 && errno == EINTR) { }
    }
}

void epoll_event_dispatcher::interrupt()
{
    interrupted_.store(true, std::memory_order_relaxed);
    if (running_here != this)
        wakeUp();
}

void epoll_event_dispatcher::flush() { }

// Read first, then allow the next write: a post that saw the flag still set was queued before
// this, and the next turn delivers it before waiting.
void epoll_event_dispatcher::drain_wake_fd()
{
    std::uint64_t count;
    while (::read(wake_fd_, &count, sizeof count) < 0 && errno == EINTR) { }
    wake_pending_.store(false);
}

bool epoll_event_dispatcher::wait_for_wake_only(int timeout_ms)
{
    pollfd pfd { wake_fd_, POLLIN, 0 };
    int ready;
    while ((ready = ::poll(&pfd, 1, timeout_ms)) < 0 && errno == EINTR) { }
    if (ready <= 0)
        return false;
    drain_wake_fd();
    return true;
}
