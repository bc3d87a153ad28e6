#pragma once
// How the conversion driver reaches the user in the wizard: progress lines go
// to the log box of the current page, the progress timer to the shell, errors
// to the shell's boxes and the error dialogs. The run calls these on its
// worker thread; each crosses to the window thread and waits there (a
// Continue/Abort question waits for the user's answer).

#include "driver/frontend_hooks.h"

class wizard_frontend : public frontend_hooks {
public:
    void progress_line(const std::wstring& line) override;
    void start_progress_timer(int period_ms) override;
    void unexpected_error(const std::string& text) override;
    void show_internal_error(const std::string& message) override;
    void show_error(const std::string& message) override;
    frontend_continue_answer ask_continue(const std::string& message) override;
    void display_help(int topic) override;
    // Errors are listed for the finish page only while the wizard's window exists.
    bool lists_errors() const override;
    [[noreturn]] void end_process(int exit_code) override;
};

// The desktop's mail program (a mailto: link) for bug reports and the
// clipboard for the internal-error dialog.
void install_wizard_desktop_hooks();
