#pragma once
// What the console program shows: progress lines of the run on standard
// output; error reports by level ("Error:" lines, exit code -1 for errors of
// level 1 and 2), messages that end the program (usage after an option error,
// unexpected exceptions) and the summary of what a run left out on standard
// error. Control characters in what is shown (names from the source) are
// made visible.
//
// Standard output is flushed after every write and before anything goes to
// standard error, so a message on standard error never overtakes earlier
// progress text.

#include <cstdint>
#include <string>
#include <string_view>

#include "driver/conversion_failures.h"
#include "driver/frontend_hooks.h"

// Ends the console program with an exit code. Thrown instead of calling
// exit() so that the objects of the entry point (connections, an open COPY,
// the script file) are released on the way out; the entry point catches it
// and returns the code. It is not a std::exception, so no handler of the run
// or the entry point mistakes it for an error to report.
struct console_exit {
    int code;
};

// Logs the text (level 3), writes it with a line end to standard error (also
// when the program is silent: it is the reason the program ends), and ends the
// program with -1.
[[noreturn]] void exit_with_message(const std::string& text);

// The one line that tells what a finished run left out: rows, tables, indexes,
// foreign keys and views always with their counts, the rarer kinds (sequences,
// column defaults, merges without a key) when they happened.
std::string console_summary_line(const conversion_failures& failures);

// The one line that tells how far a run ended by a stop request got, and that
// it was ended: `signal_name` says what asked for it ("SIGINT"); `live`
// whether the destination is a database (else a script file, which a stopped
// run never writes); `stopped_table` the table whose rows were being copied
// ("" when the stop came between tables) and `rows_kept` how many of them were
// committed; `tables_done` the tables begun (the stopped one included) of
// `tables_total`.
std::string console_stopped_line(const char* signal_name, bool live, const std::wstring& stopped_table,
                                 std::uint64_t rows_kept, std::uint32_t tables_done, std::uint32_t tables_total);

// Whether the conversion object's silent flag is set (false without one).
bool console_is_silent() noexcept;

// Raw writers: standard output (flushed), and standard error after standard
// output was flushed.
void console_write_out(std::string_view text);
void console_write_err(std::string_view text);

// A progress line as the console shows it: the wide line in UTF-8, its
// "\r\n" written as the platform's line end, and a table line ("Converting
// table ...") followed by one more line end.
std::string console_progress_text(const std::wstring& line);

// The console's answers to the driver's front-end calls.
class console_hooks final : public frontend_hooks {
public:
    void progress_line(const std::wstring& line) override;
    void unexpected_error(const std::string& text) override;

    void show_internal_error(const std::string& message) override;
    void show_error(const std::string& message) override;
    frontend_continue_answer ask_continue(const std::string& message) override;
    bool level1_ends_process() const override { return true; }
    [[noreturn]] void end_process(int exit_code) override;
};

// Registers a console_hooks object for its lifetime.
class console_hooks_scope {
public:
    console_hooks_scope() { set_frontend_hooks(&m_hooks); }
    ~console_hooks_scope() { set_frontend_hooks(nullptr); }
    console_hooks_scope(const console_hooks_scope&) = delete;
    console_hooks_scope& operator=(const console_hooks_scope&) = delete;

private:
    console_hooks m_hooks;
};
