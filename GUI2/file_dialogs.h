#pragma once
// The open and save file dialogs of the wizard. The filter is a list of name
// and pattern pairs separated (and ended) by "|":
//   "Profile Files (.pmr)|*.pmr|All Files (*.*)|*.*|"
// The dialog starts in the folder of the initial path (when it has none, the
// folder of the last file chosen in this program, else the user's home) with
// the initial path's base name filled in.

#include <string>

class QWidget;

class file_dialog {
public:
    file_dialog(QWidget* owner, std::wstring filter, std::wstring title, const std::wstring& initial_path);
    virtual ~file_dialog() = default;

    // true when the user chose a file; its full path is then file_name().
    virtual bool show() = 0;
    const std::wstring& file_name() const noexcept { return m_file_name; }

    // The filter in the form the dialog shows ("Name (patterns);;...").
    static std::wstring dialog_filter(const std::wstring& filter);
    // Where a dialog without an initial path starts: the folder of the last
    // file chosen, else the user's home.
    static std::wstring start_folder();

protected:
    QWidget* m_owner;
    std::wstring m_filter;
    std::wstring m_title;
    std::wstring m_folder;
    std::wstring m_file_name;  // starts as the initial path's base name
};

// Only an existing file can be chosen.
class open_file_dialog : public file_dialog {
public:
    using file_dialog::file_dialog;
    bool show() override;
};

// A chosen name without the default extension anywhere in it gets it
// appended. A name (with that extension) of a file that exists is replaced
// only after the user agreed; No shows the dialog again.
class save_file_dialog : public file_dialog {
public:
    // The extension may be given with or without its dot; an empty one is an
    // internal error. confirm_overwrite false leaves the question to the
    // caller (a script file is asked about when the page is left).
    save_file_dialog(QWidget* owner, std::wstring filter, std::wstring title, const std::wstring& initial_path,
                     const std::wstring& default_extension, bool confirm_overwrite = true);
    bool show() override;

    // The rule above: "a.pmr.old" stays, "settings" becomes "settings.pmr".
    static std::wstring with_default_extension(const std::wstring& name, const std::wstring& dotted_extension);

private:
    std::wstring m_extension;  // with its dot
    bool m_confirm_overwrite;
};
