#include "pmr_shel/pelmora_entry.h"

#include <QtGlobal>

#include "GUI2/finish_page.h"
#include "GUI2/off_window.h"
#include "GUI2/wizard_frontend.h"
#include "GUI2/wizard_shell.h"
#include "TK/tk_desktop.h"
#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "driver/error_handler.h"
#include "driver/pelmora_convertor.h"
#include "pmr_shel/conversion_settings_page.h"
#include "pmr_shel/progress_page.h"
#include "pmr_shel/wizard_pages.h"

namespace {

constexpr int exit_failure = -1;
constexpr const wchar_t* qt_library_name = L"Qt6Widgets";

// The Qt run-time must be at least the version the program was built with.
bool gui_initialize()
{
    tk_write_log(2, "gui_initialize");
    tk_register_dll_version(qt_library_name, []() -> std::optional<std::string> { return std::string(qVersion()); });
    const std::uint32_t version = get_dll_version(qt_library_name);
    tk_write_log(1, "Qt version=%X", version);
    if (version < tk_version_word(QT_VERSION_MAJOR, QT_VERSION_MINOR)) {
        wizard_shell::error(L"Incorrect version of the Qt run-time libraries. Qt " +
                            std::to_wstring(QT_VERSION_MAJOR) + L"." + std::to_wstring(QT_VERSION_MINOR) +
                            L"\nor later is required to proceed with the application.");
        return false;
    }
    tk_write_log(1, "gui_initialize - end");
    return true;
}

// Restores the quiet hooks however the entry point is left.
struct frontend_registration {
    explicit frontend_registration(frontend_hooks* hooks) { set_frontend_hooks(hooks); }
    ~frontend_registration() { set_frontend_hooks(nullptr); }
};

int run_wizard(const std::string& command_line)
{
    // Built in this order, destroyed in reverse: the conversion object (whose
    // destructor stores the remembered settings), the shell, the pages.
    pelmora_convertor convertor(convertor_form::wizard);

    const bool quick_launch = !command_line.empty();
    if (quick_launch) {
        tk_write_log(2, "QUICK LAUNCH: profile=%s", command_line.c_str());
        const std::wstring path = tk_ansi_to_unicode(command_line);
        // Without its profile a quick launch would run with whatever the
        // remembered settings say (mode 0 drops the destination database):
        // nothing happens then.
        if (!convertor.load_profile_file(path)) {
            wizard_shell::error(L"The profile '" + path +
                                L"' cannot be loaded. Nothing was converted.");
            return exit_failure;
        }
        // The pages refuse such a schema name; a profile written by hand
        // must not get past them by being run at once.
        const std::wstring schema_problem = conversion_settings::schema_name_problem(convertor.pgs_schema);
        if (!schema_problem.empty()) {
            wizard_shell::error(schema_problem + L" Nothing was converted.");
            return exit_failure;
        }
    }

    wizard_shell shell(pelmora_title(), 501, 311, 312);
    wizard_page_set settings_pages;
    build_settings_pages(settings_pages);

    if (quick_launch) {
        run_off_window(nullptr, [&convertor] {
            convertor.connect_mysql_server();
            // A script needs no PostgreSQL server.
            if (convertor.b_direct)
                convertor.connect_pgs_server(std::string());
            convertor.check_dest();
        });
    } else {
        for (auto& page : settings_pages.pages)
            shell.add_page(page.get());
    }
    progress_page progress;
    shell.add_page(&progress);
    gui_finish_page finish(finish_page_info,
                           L"Wizard has migrated your MySQL database to\nPostgreSQL server successfully.\n\n"
                           L"Click 'Finish' to exit the wizard.",
                           L"There were some errors while converting the database.\n"
                           L"Click 'Finish' to exit the wizard.",
                           profile_extension);
    finish.set_script_success_text(L"Wizard has exported your MySQL database into\na PostgreSQL script file "
                                   L"successfully.\n\nClick 'Finish' to exit the wizard.");
    shell.add_page(&finish);

    const int result = shell.exec();
    shell.remove_pages();
    return result;
}

}  // namespace

bool pelmora_display_available(const char* qpa_platform, const char* display, const char* wayland_display)
{
    auto set = [](const char* v) { return v && *v; };
    const std::string platform = set(qpa_platform) ? qpa_platform : "";
    // "xcb", "wayland", "wayland-egl", "xcb:..." need a display; an empty
    // setting picks one of them.
    const bool needs_display =
        platform.empty() || platform.rfind("xcb", 0) == 0 || platform.rfind("wayland", 0) == 0;
    if (!needs_display)
        return true;
    return set(display) || set(wayland_display);
}

std::wstring pelmora_title()
{
    return L"Tessalane 6.3";
}

int pelmora_main(const std::string& command_line)
{
    tk_logger logger(nullptr, false, 3, false);
    error_handler handler(pgs_error_table);
    handler.load_err_map(mysql_error_table);
    wizard_frontend frontend;
    frontend_registration registration(&frontend);
    install_wizard_desktop_hooks();

    int exit_code = 0;
    try {
        if (!gui_initialize())
            return exit_failure;
        exit_code = run_wizard(command_line);
    } catch (const tk_exception& e) {
        handler.handle(e, true);
        exit_code = exit_failure;
    } catch (const std::exception& e) {
        wizard_shell::error_ansi(e.what());
        exit_code = exit_failure;
    }
    tk_set_bug_mail_hook({});
    tk_set_clipboard_hook({});
    return exit_code;
}
