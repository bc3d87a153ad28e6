#pragma once
// Stopping a program by signal without ending it in the middle of its work.
//
// While a pf_stop_signals object lives, SIGINT (Ctrl-C) and SIGTERM only record
// that they came: the handler stores the signal's number in a lock-free atomic
// and does nothing else (the only work a handler may do safely while any
// thread of the process can be anywhere, inside malloc or a lock included).
// The program's own threads read the flag where they can stop cleanly. A
// second SIGINT or SIGTERM takes the system's default action and ends the
// process at once, for a user who will not wait for the clean stop.
//
// Interrupted system calls resume (SA_RESTART), so a read from a server that a
// signal interrupts goes on instead of failing as a lost connection.

#include <atomic>

class pf_stop_signals {
public:
    // Installs the handlers; the signal flag starts at 0.
    pf_stop_signals();
    // Puts back the actions found at construction.
    ~pf_stop_signals();
    pf_stop_signals(const pf_stop_signals&) = delete;
    pf_stop_signals& operator=(const pf_stop_signals&) = delete;

    // The number of the first stop signal received (SIGINT or SIGTERM), 0 while
    // none came. A signal handler writes it: a thread reads it with acquire.
    static const std::atomic<int>& received() noexcept;
};

// The name of a signal for messages ("SIGINT", "SIGTERM"; "a signal" for others).
const char* pf_signal_name(int signal_number) noexcept;
