#include "platform/pf_signals.h"

#include <signal.h>

namespace {

// Written by the handler: it must be lock-free to be touched there at all.
std::atomic<int> g_received{0};
static_assert(std::atomic<int>::is_always_lock_free);

struct sigaction g_previous_int;
struct sigaction g_previous_term;

extern "C" void on_stop_signal(int signal_number)
{
    int expected = 0;
    if (g_received.compare_exchange_strong(expected, signal_number, std::memory_order_release,
                                           std::memory_order_relaxed))
        return;
    // A second stop signal: the system's own action, which ends the process
    // once this handler returns (the signal is blocked until then).
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

void install(int signal_number, struct sigaction* previous)
{
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal_number, &action, previous);
}

}  // namespace

pf_stop_signals::pf_stop_signals()
{
    g_received.store(0, std::memory_order_relaxed);
    install(SIGINT, &g_previous_int);
    install(SIGTERM, &g_previous_term);
}

pf_stop_signals::~pf_stop_signals()
{
    sigaction(SIGINT, &g_previous_int, nullptr);
    sigaction(SIGTERM, &g_previous_term, nullptr);
}

const std::atomic<int>& pf_stop_signals::received() noexcept
{
    return g_received;
}

const char* pf_signal_name(int signal_number) noexcept
{
    switch (signal_number) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    default:
        return "a signal";
    }
}
