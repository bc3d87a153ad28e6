#include "GUI2/file_dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include <algorithm>
#include <mutex>
#include <vector>

#include "GUI2/wizard_shell.h"
#include "TK/tk_exception.h"
#include "TK/tk_strings.h"

file_dialog::file_dialog(QWidget* owner, std::wstring filter, std::wstring title, const std::wstring& initial_path)
    : m_owner(owner), m_filter(std::move(filter)), m_title(std::move(title))
{
    const QFileInfo initial(QString::fromStdWString(initial_path));
    if (!initial_path.empty()) {
        m_folder = initial.path().toStdWString();
        m_file_name = initial.completeBaseName().toStdWString();
    }
    if (m_folder.empty() || m_folder == L".")
        m_folder = start_folder();
}

namespace {

std::mutex g_folder_mutex;
std::wstring g_last_folder;  // of the last file chosen in any dialog

void remember_folder(const std::wstring& file_name)
{
    std::lock_guard<std::mutex> lock(g_folder_mutex);
    g_last_folder = QFileInfo(QString::fromStdWString(file_name)).absolutePath().toStdWString();
}

}  // namespace

std::wstring file_dialog::start_folder()
{
    {
        std::lock_guard<std::mutex> lock(g_folder_mutex);
        if (!g_last_folder.empty())
            return g_last_folder;
    }
    return QDir::homePath().toStdWString();
}

std::wstring file_dialog::dialog_filter(const std::wstring& filter)
{
    std::vector<std::wstring> parts = tk_split(filter, L'|');
    std::wstring result;
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].empty())
            break;
        std::wstring patterns = parts[i + 1];
        std::replace(patterns.begin(), patterns.end(), L';', L' ');
        if (!result.empty())
            result += L";;";
        result += parts[i] + L" (" + patterns + L")";
    }
    return result;
}

namespace {

bool run_dialog(QFileDialog& dlg, std::wstring& file_name)
{
    dlg.setOption(QFileDialog::DontUseNativeDialog, true);
    dlg.setObjectName(QStringLiteral("file_dialog"));
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return false;
    file_name = dlg.selectedFiles().front().toStdWString();
    remember_folder(file_name);
    return true;
}

}  // namespace

bool open_file_dialog::show()
{
    QFileDialog dlg(m_owner, QString::fromStdWString(m_title), QString::fromStdWString(m_folder),
                    QString::fromStdWString(dialog_filter(m_filter)));
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setFileMode(QFileDialog::ExistingFile);
    if (!m_file_name.empty())
        dlg.selectFile(QString::fromStdWString(m_file_name));
    return run_dialog(dlg, m_file_name);
}

save_file_dialog::save_file_dialog(QWidget* owner, std::wstring filter, std::wstring title,
                                   const std::wstring& initial_path, const std::wstring& default_extension,
                                   bool confirm_overwrite)
    : file_dialog(owner, std::move(filter), std::move(title), initial_path), m_confirm_overwrite(confirm_overwrite)
{
    if (default_extension.empty())
        throw tk_mail_assertion("g_f_dlg", 111);
    m_extension = default_extension.front() == L'.' ? default_extension : L"." + default_extension;
}

std::wstring save_file_dialog::with_default_extension(const std::wstring& name, const std::wstring& dotted_extension)
{
    // Only the file's own name counts: a folder named "old.pmr.d" says nothing of it.
    const std::size_t slash = name.rfind(L'/');
    const std::size_t name_start = slash == std::wstring::npos ? 0 : slash + 1;
    if (name.find(dotted_extension, name_start) != std::wstring::npos)
        return name;
    return name + dotted_extension;
}

bool save_file_dialog::show()
{
    for (;;) {
        QFileDialog dlg(m_owner, QString::fromStdWString(m_title), QString::fromStdWString(m_folder),
                        QString::fromStdWString(dialog_filter(m_filter)));
        dlg.setAcceptMode(QFileDialog::AcceptSave);
        dlg.setFileMode(QFileDialog::AnyFile);
        // The dialog's own question would come before the extension is added,
        // so it would miss "settings" that becomes an existing "settings.pmr".
        dlg.setOption(QFileDialog::DontConfirmOverwrite, true);
        if (!m_file_name.empty())
            dlg.selectFile(QString::fromStdWString(m_file_name));
        if (!run_dialog(dlg, m_file_name))
            return false;
        m_file_name = with_default_extension(m_file_name, m_extension);
        if (!m_confirm_overwrite || !QFileInfo::exists(QString::fromStdWString(m_file_name)))
            return true;
        if (wizard_shell::question(L"'" + m_file_name + L"' already exists.\nDo you want to replace it?", true))
            return true;
        // The dialog again, in that folder with that name, for another one.
        const QFileInfo refused(QString::fromStdWString(m_file_name));
        m_folder = refused.absolutePath().toStdWString();
        m_file_name = refused.fileName().toStdWString();
    }
}
