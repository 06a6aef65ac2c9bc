#include "app/settings_per_loop_pass.h"

#include "temp_ini.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <gtest/gtest.h>

namespace {

using std::chrono::milliseconds;

QByteArray with_key(const char* sign_key)
{
    return QByteArray("[GENERAL_SETTINGS]\nSIGN_KEY=") + sign_key + "\n";
}

// An edit made while a pass is running is seen from the next pass on, or once the last look is
// older than the age limit; within one pass, and within that age, the file is looked at once.
TEST(SettingsPerLoopPass, AnEditIsSeenFromTheNextPass)
{
    struct row
    {
        const char* behaviour;
        milliseconds max_age;
        bool loop_turns; // between the edit and the next ask
        const char* seen;
        int looks;
    };
    const row rows[] = {
        { "same pass: the first look stands", milliseconds(10000), false, "k1", 1 },
        { "next pass: looked at again", milliseconds(10000), true, "k2", 2 },
        { "no age allowed: every ask looks", milliseconds(0), false, "k2", 3 },
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.behaviour);
        temp_ini ini;
        ini.write(with_key("k1"));
        const config_factory factory(ini.path(), milliseconds(0));
        settings_per_loop_pass settings(factory, r.max_age);
        const auto first = settings.current().conf;
        ASSERT_EQ(first->SIGN_KEY, "k1");
        EXPECT_EQ(settings.current().conf, first) << "an unchanged file keeps its records";

        ini.write(with_key("k2"));
        if (r.loop_turns)
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        EXPECT_EQ(settings.current().conf->SIGN_KEY, r.seen);
        EXPECT_EQ(settings.looks(), r.looks);
    }
}

} // namespace
