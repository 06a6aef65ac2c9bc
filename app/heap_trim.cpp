#include "app/heap_trim.h"

#include <QAbstractEventDispatcher>
#include <QThread>
#include <algorithm>
#include <malloc.h>

heap_trim::heap_trim(std::function<void()> trim, timing times, QObject* parent)
    : QObject(parent)
    , trim_(std::move(trim))
    , times_(times)
{
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &heap_trim::on_timer);
}

heap_trim::~heap_trim()
{
    if (installed_ == this)
        installed_ = nullptr;
}

void heap_trim::install(heap_trim* trimmer)
{
    installed_ = trimmer;
}

void heap_trim::request()
{
    if (stage_ != stage::none)
        return;
    stage_ = stage::spacing;
    const qint64 left = since_trim_.isValid()
        ? std::max<qint64>(0, times_.min_interval_ms - since_trim_.elapsed())
        : 0;
    timer_.start(int(left));
}

void heap_trim::on_timer()
{
    if (stage_ == stage::spacing)
        wait_for_idle();
    else
        trim_now(); // the loop has not waited since: it is trimmed now all the same
}

void heap_trim::wait_for_idle()
{
    stage_ = stage::waiting;
    // The objects of the request go on the loop's next pass; it waits only after they have.
    if (QAbstractEventDispatcher* dispatcher
        = QAbstractEventDispatcher::instance(QThread::currentThread()))
        idle_ = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
            &heap_trim::trim_now, Qt::DirectConnection);
    timer_.start(times_.longest_wait_ms);
}

void heap_trim::trim_now()
{
    if (stage_ != stage::waiting)
        return;
    disconnect(idle_);
    timer_.stop();
    stage_ = stage::none;
    trim_();
    since_trim_.start();
}

void heap_trim::trim_malloc()
{
    malloc_trim(0);
}
