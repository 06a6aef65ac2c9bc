#include "app/settings_per_loop_pass.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

// Receives the event posted at a look, which the loop delivers on its next pass.
class settings_per_loop_pass::pass_end : public QObject
{
public:
    explicit pass_end(bool& fresh)
        : fresh_(fresh)
    { }

    void post() { QCoreApplication::postEvent(this, new QEvent(QEvent::User)); }

protected:
    bool event(QEvent* event) override
    {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        fresh_ = false;
        return true;
    }

private:
    bool& fresh_;
};

settings_per_loop_pass::settings_per_loop_pass(
    const config_factory& factory, std::chrono::milliseconds max_age)
    : factory_(factory)
    , max_age_(max_age)
    , pass_end_(std::make_unique<pass_end>(fresh_))
{ }

settings_per_loop_pass::~settings_per_loop_pass() = default;

const request_settings& settings_per_loop_pass::current()
{
    const auto now = std::chrono::steady_clock::now();
    if (fresh_ && now - looked_at_ < max_age_)
        return settings_;
    settings_ = factory_.read_request_settings();
    looked_at_ = now;
    ++looks_;
    // One event per pass at most: a pass that looks again after `max_age` has one pending.
    if (!fresh_) {
        fresh_ = true;
        pass_end_->post();
    }
    return settings_;
}
