#pragma once
// "Step 3 of 7": the MySQL database to convert, the destination (a PostgreSQL
// database or a script file), the client encoding and an optional trace log
// file. Next is the gate of the destination: the source must exist, and an
// existing destination is handled here (a script file is deleted after the
// user agreed; for a database the overwrite dialog sets the mode, and mode 0
// drops the database at once).

#include <QComboBox>

#include <functional>

#include "GUI2/wizard_page.h"

class tk_exception;

// The source database box: filled from the server the first time it drops down.
class source_database_box : public QComboBox {
public:
    explicit source_database_box(QWidget* parent = nullptr);
    std::function<void()> on_dropdown;
    void showPopup() override;
};

class sel_file_page : public wizard_page {
    Q_OBJECT
public:
    static constexpr int overwrite_dialog_id = 133;
    static constexpr int overwrite_help_topic = 1012;

    explicit sel_file_page(QWidget* parent = nullptr);
    ~sel_file_page() override;

    bool page_init() override;
    int on_next() override;
    int on_back() override;

    // Copies the page into the conversion object (the log file switches
    // logging to it; a bad log file name throws tk_exception after source and
    // destination were stored).
    void store_settings();
    // The text of the source database box.
    std::wstring get_sql_title() const;

    // The script file a remembered destination stands for: a bare name gets
    // ".sql" (unless it has it) and the folder of the last file chosen (else
    // the home folder); a path stays as it is.
    static std::wstring script_path_for(const std::wstring& name);
    // The database a remembered destination stands for: a script path gives
    // the source's name instead.
    static std::wstring database_name_for(const std::wstring& name, const std::wstring& source);

    // The user opens the database list / picks an item of it.
    void on_dropdown();
    void on_sel_change();

private:
    int next_for_script(const std::wstring& destination);
    int next_for_database(const std::wstring& destination);
    // Shows a caught tk_exception with the user text of its code.
    static void show_error(const tk_exception& e);
    void choose_script_file();
    void choose_log_file();

    source_database_box* m_database_box = nullptr;
    QComboBox* m_encoding_box = nullptr;
    bool m_databases_listed = false;
    bool m_encodings_listed = false;
};
