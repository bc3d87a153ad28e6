#include "driver/frontend_hooks.h"

#include <atomic>
#include <cstdlib>

#include "TK/tk_log.h"

void frontend_hooks::end_process(int exit_code)
{
    tk_write_log(3, "Ending the program with exit code %d", exit_code);
    std::exit(exit_code);
}

namespace {

// Used when no program registered its hooks: everything goes to the trace log
// only and level-0 reports continue.
class quiet_hooks final : public frontend_hooks {
public:
    void progress_line(const std::wstring&) override {}
    void unexpected_error(const std::string& text) override { tk_write_log(3, "ERROR:\n%s", text.c_str()); }
    void show_internal_error(const std::string&) override {}
    void show_error(const std::string&) override {}
    frontend_continue_answer ask_continue(const std::string&) override { return {}; }
};

quiet_hooks g_quiet;
std::atomic<frontend_hooks*> g_hooks{nullptr};

}  // namespace

void set_frontend_hooks(frontend_hooks* hooks) noexcept
{
    g_hooks.store(hooks, std::memory_order_release);
}

frontend_hooks& get_frontend_hooks() noexcept
{
    frontend_hooks* h = g_hooks.load(std::memory_order_acquire);
    return h ? *h : g_quiet;
}
