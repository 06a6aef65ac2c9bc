#include "http/qhttp_client_pool.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimerEvent>
#include <algorithm>
#include <ctime>

namespace qhttp {
namespace client {

namespace {

constexpr int sweep_every_ms = 1000;

thread_local QPointer<connection_pool> pool_of_thread;

} // namespace

qint64 coarse_now_ms()
{
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

target_link::target_link(const QString& host, quint16 port, QObject* parent)
    : tcp_stream(parent)
    , host(host)
    , port(port)
{ }

target_link::~target_link()
{
    if (user)
        user->link_destroyed();
}

connection_pool::connection_pool(QObject* parent)
    : QObject(parent)
{ }

connection_pool& connection_pool::instance()
{
    if (!pool_of_thread)
        pool_of_thread = new connection_pool(QCoreApplication::instance());
    return *pool_of_thread;
}

target_link* connection_pool::take(const QString& host, quint16 port)
{
    for (target& t : targets_) {
        if (t.port != port || t.host != host || t.idle.isEmpty())
            continue;
        // The most recent one: the fewer connections kept busy, the more the others age out.
        target_link* link = t.idle.takeLast();
        return link;
    }
    return nullptr;
}

target_link* connection_pool::make(const QString& host, quint16 port, link_user* user)
{
    auto* link = new target_link(host, port, this);
    link->user = user;
    connect(link, &tcp_stream::connected, link, [link] {
        if (link->user)
            link->user->link_connected();
    });
    connect(link, &tcp_stream::ready_read, link, [this, link] {
        if (link->user)
            link->user->link_readable();
        else
            on_idle_input(link);
    });
    connect(link, &tcp_stream::failed, link, [this, link] {
        if (link->user)
            link->user->link_failed();
        else
            drop(link);
    });
    return link;
}

void connection_pool::give_back(target_link* link)
{
    link->user = nullptr;
    auto found = std::find_if(targets_.begin(), targets_.end(),
        [&](const target& t) { return t.port == link->port && t.host == link->host; });
    if (found == targets_.end()) {
        targets_.append(target { link->host, link->port, {} });
        found = targets_.end() - 1;
    }
    if (found->idle.size() >= max_idle_per_target) {
        discard(link);
        return;
    }
    link->idle_since_ms = coarse_now_ms();
    found->idle.append(link);
    if (!sweep_.isActive())
        sweep_.start(sweep_every_ms, Qt::CoarseTimer, this);
}

void connection_pool::discard(target_link* link)
{
    link->user = nullptr;
    link->abort();
    link->deleteLater();
}

int connection_pool::idle_count() const
{
    int n = 0;
    for (const target& t : targets_)
        n += t.idle.size();
    return n;
}

// An idle connection has nothing to say: input is either the target closing it or bytes that
// belong to no request. Either way it can carry no further request.
void connection_pool::on_idle_input(target_link* link)
{
    char byte;
    if (link->read(&byte, 1) != 0)
        drop(link);
}

void connection_pool::drop(target_link* link)
{
    for (target& t : targets_)
        t.idle.removeOne(link);
    discard(link);
}

void connection_pool::expire()
{
    const qint64 oldest = coarse_now_ms() - idle_ms;
    for (target& t : targets_) {
        while (!t.idle.isEmpty() && t.idle.first()->idle_since_ms <= oldest)
            discard(t.idle.takeFirst());
    }
    targets_.erase(std::remove_if(targets_.begin(), targets_.end(),
                       [](const target& t) { return t.idle.isEmpty(); }),
        targets_.end());
    if (targets_.isEmpty())
        sweep_.stop();
}

void connection_pool::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == sweep_.timerId())
        expire();
    else
        QObject::timerEvent(event);
}

} // namespace client
} // namespace qhttp
