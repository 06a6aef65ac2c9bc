#include "amqp/write_batch.h"

#include <QAbstractEventDispatcher>
#include <QThread>
#include <algorithm>

write_batch& write_batch::instance()
{
    // The links live on the event-loop thread only; the connector's worker never writes here.
    static write_batch* batch = new write_batch;
    return *batch;
}

bool write_batch::attach()
{
    QAbstractEventDispatcher* dispatcher
        = QAbstractEventDispatcher::instance(QThread::currentThread());
    if (!dispatcher)
        return false;
    if (dispatcher_ == dispatcher)
        return true;
    if (dispatcher_)
        dispatcher_->disconnect(this);
    dispatcher_ = dispatcher;
    connect(dispatcher, &QAbstractEventDispatcher::awake, this, &write_batch::end_pass,
        Qt::DirectConnection);
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &write_batch::end_pass,
        Qt::DirectConnection);
    return true;
}

bool write_batch::join(member* m)
{
    write_batch& batch = instance();
    if (!batch.attach())
        return false;
    batch.members_.push_back(m);
    return true;
}

void write_batch::leave(member* m)
{
    auto& members = instance().members_;
    members.erase(std::remove(members.begin(), members.end(), m), members.end());
}

void write_batch::end_pass()
{
    // One by one, so that a member that leaves meanwhile (a lost connection ends others'
    // handlers too) is never told, and a nested loop started by one goes on with the rest.
    while (!members_.empty()) {
        member* m = members_.front();
        members_.erase(members_.begin());
        m->end_write_batch();
    }
}
