#include "GUI2/wizard_frontend.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QUrl>

#include <cstdio>
#include <cstdlib>

#include "GUI2/error_dialogs.h"
#include "GUI2/wizard_shell.h"
#include "TK/tk_desktop.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"

void wizard_frontend::progress_line(const std::wstring& line)
{
    if (wizard_shell* sh = wizard_shell::try_instance())
        sh->write_log(line);
}

void wizard_frontend::start_progress_timer(int period_ms)
{
    if (wizard_shell* sh = wizard_shell::try_instance())
        sh->set_timer(period_ms);
}

void wizard_frontend::unexpected_error(const std::string& text)
{
    wizard_shell::error_ansi(text);
}

void wizard_frontend::show_internal_error(const std::string& message)
{
    const std::wstring text = tk_ansi_to_unicode(message);
    wizard_shell::on_window_thread([&text] {
        dlg_error_ex dlg(text, QApplication::activeWindow());
        dlg.exec();
    });
}

void wizard_frontend::show_error(const std::string& message)
{
    wizard_shell::error(tk_ansi_to_unicode(message));
}

frontend_continue_answer wizard_frontend::ask_continue(const std::string& message)
{
    const std::wstring text = tk_ansi_to_unicode(message);
    return wizard_shell::on_window_thread([&text] {
        dlg_error_continue dlg(text, QApplication::activeWindow());
        frontend_continue_answer answer;
        answer.abort = dlg.exec() == dlg_error_continue::result_abort;
        answer.do_not_show_again = dlg.do_not_show();
        return answer;
    });
}

void wizard_frontend::display_help(int topic)
{
    if (wizard_shell::try_instance())
        wizard_shell::instance()->display_help(topic);
}

bool wizard_frontend::lists_errors() const
{
    return wizard_shell::is_initialized();
}

void wizard_frontend::end_process(int exit_code)
{
    // An internal error: nothing is destroyed (the worker may still be
    // running), only the streams are flushed.
    tk_write_log(3, "Ending the program with exit code %d", exit_code);
    std::fflush(nullptr);
    std::_Exit(exit_code & 0xFF);
}

void install_wizard_desktop_hooks()
{
    tk_set_bug_mail_hook([](const tk_bug_mail& mail) {
        const QUrl link(QString::fromStdString(tk_bug_mail_link(mail)));
        return wizard_shell::on_window_thread([&link] { return QDesktopServices::openUrl(link) ? 0 : 1; });
    });
    tk_set_clipboard_hook([](const std::wstring& text) {
        return wizard_shell::on_window_thread([&text] {
            QClipboard* cb = QGuiApplication::clipboard();
            if (!cb)
                return false;
            cb->setText(QString::fromStdWString(text));
            return true;
        });
    });
}
