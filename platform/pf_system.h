#pragma once
// Process facts the toolkit used to ask the operating system for: the
// program's own path, the thread's last system error and its text, the local
// time.

#include <optional>
#include <string>

// The full path of the program file (/proc/self/exe), or an empty text when it
// cannot be read.
std::string pf_module_path();

// The thread's last system error (errno) and a way to set it.
int pf_last_error() noexcept;
void pf_set_last_error(int code) noexcept;

// The system's sentence for an error code, or nothing when the system has no
// text for it ("Unknown error N" counts as no text).
std::optional<std::string> pf_error_text(int code);

struct pf_local_time {
    int year;    // e.g. 2024
    int month;   // 1-12
    int day;     // 1-31
    int hour;    // 0-23
    int minute;
    int second;
    int millisecond;
};

// The local time now, or nothing when the clock cannot be read.
std::optional<pf_local_time> pf_now();
