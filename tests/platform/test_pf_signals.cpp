// The stop signals: the first only sets the flag, a second ends the process at once, and the
// actions found before are back afterwards. Each case runs in a child process of its own.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>

#include "platform/pf_signals.h"

namespace {

TEST(pf_signals, a_first_signal_only_sets_the_flag)
{
    EXPECT_EXIT(
        {
            pf_stop_signals signals;
            if (pf_stop_signals::received().load() != 0)
                std::_Exit(1);
            raise(SIGTERM);
            std::_Exit(pf_stop_signals::received().load() == SIGTERM ? 0 : 2);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(pf_signals, a_second_signal_ends_the_process)
{
    EXPECT_EXIT(
        {
            pf_stop_signals signals;
            raise(SIGINT);
            raise(SIGTERM);
            std::_Exit(pf_stop_signals::received().load() == SIGINT ? 0 : 3);
        },
        ::testing::KilledBySignal(SIGTERM), "");
}

TEST(pf_signals, the_earlier_actions_come_back)
{
    EXPECT_EXIT(
        {
            signal(SIGINT, SIG_IGN);
            { pf_stop_signals signals; }
            raise(SIGINT);  // ignored again
            struct sigaction now {};
            sigaction(SIGTERM, nullptr, &now);
            std::_Exit(now.sa_handler == SIG_DFL ? 0 : 4);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
