#include "GUI2/welcome_page_base.h"

#include "GUI2/file_dialogs.h"
#include "GUI2/wizard_shell.h"
#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "driver/error_handler.h"

welcome_page_t::welcome_page_t(std::wstring extension) : m_extension(std::move(extension)) {}

welcome_page_t::~welcome_page_t() = default;

std::wstring welcome_page_t::profile_filter() const
{
    // Shown as "Profile Files (*.pmr);;All Files (*)".
    const std::wstring filter = L"Profile Files|*." + m_extension + L"|All Files|*|";
    tk_write_wlog(1, L"welcome_page_t::on_load(%s)", filter.c_str());
    if (m_extension.size() < 3 || m_extension.size() > 4)
        throw tk_mail_assertion("..\\GUI2/g_finish", 266);
    return filter;
}

void welcome_page_t::on_load(QWidget* owner)
{
    open_file_dialog dialog(owner, profile_filter(), L"Select Profile", std::wstring());
    if (!dialog.show()) {
        update_from_cvt();
        return;
    }
    load_profile(dialog.file_name());
}

bool welcome_page_t::load_profile(const std::wstring& path)
{
    bool loaded = false;
    try {
        loaded = load_profile_file(path);
        if (!loaded)
            wizard_shell::error(L"Cannot load profile '" + path +
                                L"'. The file cannot be read or is not a profile.");
    } catch (const tk_exception& e) {
        error_handler::instance()->handle(e, false);
    }
    // A profile that failed part way may have changed some settings already:
    // the controls show what the conversion object holds now.
    update_from_cvt();
    return loaded;
}
