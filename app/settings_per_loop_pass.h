#pragma once

#include "app/config_factory.h"

#include <chrono>
#include <memory>

// The records every request reads, with the ini file looked at no more than once per pass of
// the event loop instead of once per request. The requests of one pass were all received when
// the pass began, so the first of them to ask, looking at the file then, sees every edit made
// before any of them was sent; under load a pass serves many requests for one stat().
// Without a turning event loop a look older than `max_age` is not trusted either.
class settings_per_loop_pass
{
public:
    static constexpr std::chrono::milliseconds default_max_age { 100 };

    explicit settings_per_loop_pass(
        const config_factory& factory, std::chrono::milliseconds max_age = default_max_age);
    ~settings_per_loop_pass();
    settings_per_loop_pass(const settings_per_loop_pass&) = delete;
    settings_per_loop_pass& operator=(const settings_per_loop_pass&) = delete;

    // The records as of this pass; the first call of a pass reads them from the factory.
    const request_settings& current();
    // How often the factory was asked.
    int looks() const { return looks_; }

private:
    class pass_end;

    const config_factory& factory_;
    const std::chrono::milliseconds max_age_;
    request_settings settings_;
    bool fresh_ = false;
    std::chrono::steady_clock::time_point looked_at_;
    int looks_ = 0;
    std::unique_ptr<pass_end> pass_end_;
};
