#include "amqp/rabbit_api_man.h"
#include "app/application.h"

#include <QtGlobal>
#include <memory>

namespace {

// Test seams: environment variables that shorten long production constants so tests can see
// what happens at their end. Unset, production keeps its constants.
void apply_test_seams()
{
    bool ok = false;
    const int command_timeout_ms
        = qEnvironmentVariableIntValue("GORVEX_TEST_COMMAND_TIMEOUT_MS", &ok);
    if (ok && command_timeout_ms > 0)
        rabbit_api_man::set_command_timeout_ms(command_timeout_ms);

    // Further seams (AMQP reconnect delay, in-memory access store commit delay) go here.
}

} // namespace

int main(int argc, char** argv)
{
    apply_test_seams();
    auto app = std::make_unique<Application>(argc, argv);
    app->exec();
    app.reset();
    return 0;
}
