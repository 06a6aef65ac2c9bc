#include "access/ram_helper.h"
#include "amqp/rabbit_api_man.h"
#include "amqp/rabbit_client.h"
#include "app/application.h"
#include "app/epoll_event_dispatcher.h"
#include "app/heap_trim.h"
#include "app/stop_signals.h"
#include "http/qhttp_tcp_stream.h"
#include "router/forward_delivery.h"

#include <QtGlobal>
#include <memory>

namespace {

// A positive number of milliseconds from the environment, else 0.
int positive_env_ms(const char* name)
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue(name, &ok);
    return ok && ms > 0 ? ms : 0;
}

// Test seams: environment variables that shorten long production constants so tests can see
// what happens at their end. Unset, production keeps its constants.
void apply_test_seams()
{
    if (const int ms = positive_env_ms("GORVEX_TEST_COMMAND_TIMEOUT_MS"))
        rabbit_api_man::set_command_timeout_ms(ms);
    if (const int ms = positive_env_ms("GORVEX_TEST_RECONNECT_MS"))
        rabbit_client::set_reconnect_interval_ms(ms);
    if (const int ms = positive_env_ms("GORVEX_TEST_COMMIT_DELAY_MS"))
        ram_helper::set_commit_delay_ms(ms);
    if (const int ms = positive_env_ms("GORVEX_TEST_HEAD_TIMEOUT_MS"))
        qhttp::server_limits::set_default_head_timeout_ms(ms);
    set_forward_stall_ms(positive_env_ms("GORVEX_TEST_FORWARD_STALL_MS"));
}

} // namespace

int main(int argc, char** argv)
{
    stop_signals::block();
    apply_test_seams();
    // The application takes it over; its cost per turn does not grow with idle connections.
    QCoreApplication::setEventDispatcher(new epoll_event_dispatcher);
    qhttp::tcp_stream::set_closing_hook(&epoll_event_dispatcher::forget_closing);
    auto app = std::make_unique<Application>(argc, argv);
    {
        heap_trim trim(&heap_trim::trim_malloc);
        heap_trim::install(&trim);
        stop_signals stop;
        app->exec();
    }
    app.reset();
    return 0;
}
