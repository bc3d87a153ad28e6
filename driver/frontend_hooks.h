#pragma once
// The few ways the conversion driver reaches the user. The run, its scope
// object and the error handler are shared by the console program and the
// wizard; each program registers one implementation of this interface
// (set_frontend_hooks) before it builds the error handler and the convertor.
// Tests implement it too, to record what a run shows.
//
// Without a registered implementation the driver uses a quiet default that
// only writes the trace log, continues after level-0 reports and ends the
// process with std::exit for an internal error.

#include <string>

// What the user answered to a level-0 report.
struct frontend_continue_answer {
    bool abort = false;               // end the whole run (tk_final_exception)
    bool do_not_show_again = false;   // silence later level-0 and level-1 reports
};

class frontend_hooks {
public:
    virtual ~frontend_hooks() = default;

    // --- the run ---
    // One progress line; it carries its own "\r\n".
    virtual void progress_line(const std::wstring& line) = 0;
    // The run has started: a front end with a progress window polls the
    // convertor's counters with this period (milliseconds).
    virtual void start_progress_timer(int period_ms) { (void)period_ms; }
    // The narrow what() text of a standard exception (not a tk_exception) that
    // ended the run.
    virtual void unexpected_error(const std::string& text) = 0;
    // A listed table that the source database lacks; the item is skipped.
    virtual void missing_table(const std::wstring& listed_name) { (void)listed_name; }

    // --- the error handler (messages are already formed: prefix, user text,
    // line feeds turned into blanks) ---
    // Level 2: the internal error's own message; the handler then calls
    // end_process(-1).
    virtual void show_internal_error(const std::string& message) = 0;
    // Level 1, unless reports are suppressed.
    virtual void show_error(const std::string& message) = 0;
    // Level 0 (and levels above 2), unless reports are suppressed: the user
    // may continue or abort the run.
    virtual frontend_continue_answer ask_continue(const std::string& message) = 0;
    // Whether a level-1 error ends the program (the console: yes, with -1).
    virtual bool level1_ends_process() const { return false; }
    // Whether reported messages go into the error list (the wizard lists
    // them only while its window exists).
    virtual bool lists_errors() const { return true; }
    // A help topic that a level-1 report opens.
    virtual void display_help(int topic) { (void)topic; }
    // Ends the program with this exit code. Must not return (an
    // implementation for tests may throw instead).
    [[noreturn]] virtual void end_process(int exit_code);
};

// Registers the program's hooks (nullptr: back to the quiet default). The
// object is not owned and must outlive every run and report.
void set_frontend_hooks(frontend_hooks* hooks) noexcept;
// The registered hooks, or the quiet default.
frontend_hooks& get_frontend_hooks() noexcept;
