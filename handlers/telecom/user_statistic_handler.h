#pragma once

#include "app/dependency_container.h"
#include "router/handler_result.h"
#include "routes/api_params.h"

#include <QDateTime>
#include <array>

// "/statistic": administrators read the per-client request statistics, ask one question of
// every client, set ban ends by hand and see how long the gateway has run. Answered from
// memory, no back-end command.
class UserStatisticHandler
{
public:
    static constexpr const char* handler_path = "/statistic";
    static constexpr bool need_token = true;
    static constexpr std::array<const char*, 5> param_keys { "user", "banned_to", "history",
        "user_list", "uptime" };

    explicit UserStatisticHandler(const request_container& container);

    HttpSyncResult get(const api_params& params);

private:
    statistic_map& statistics_;
    QDateTime start_time_;
    bool allowed_; // an administrator, or anyone while API keys are not checked
};
