#include "pmr_shel/database_page.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>


#include "GUI2/file_dialogs.h"
#include "GUI2/off_window.h"
#include "GUI2/wizard_shell.h"
#include "SQL/sql_engine.h"
#include "TK/tk_file_names.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "common/overwrite_dlg.h"
#include "driver/destination_check.h"
#include "driver/error_handler.h"
#include "driver/pelmora_convertor.h"
#include "pmr_shel/wizard_pages.h"

namespace {

constexpr int id_database = 1302;
constexpr int id_encoding = 1303;
constexpr int id_dest_label = 1311;
constexpr int id_destination = 1004;
constexpr int id_browse_script = 1104;
constexpr int id_log_file = 1005;
constexpr int id_browse_log = 1105;

constexpr const wchar_t* overwrite_text =
    L"The destination database already exists. Select one of the\n"
    L"options below. Click 'Help' button for more information.";
constexpr const char* predefined_text =
    "Cannot drop predefined PostgreSQL database. Leave 'Database' field empty on 'Step 2 of 7' wizard page";

bool starts_with_no_case(const QString& text, const QString& prefix)
{
    return text.startsWith(prefix, Qt::CaseInsensitive);
}

}  // namespace

source_database_box::source_database_box(QWidget* parent) : QComboBox(parent)
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
}

void source_database_box::showPopup()
{
    if (on_dropdown)
        on_dropdown();
    QComboBox::showPopup();
}

sel_file_page::sel_file_page(QWidget* parent) : wizard_page(database_page_info, parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Enter source and destination database names. Drop down the combo "
                                                "box to see\nall available MySQL databases (you must have "
                                                "sufficient permissions)."),
                                 this));
    auto* grid = new QGridLayout;
    layout->addLayout(grid);

    auto* source_label = new QLabel(QStringLiteral("My&SQL database:"), this);
    m_database_box = new source_database_box(this);
    m_database_box->setObjectName(ctrl_name(id_database));
    source_label->setBuddy(m_database_box);
    grid->addWidget(source_label, 0, 0);
    grid->addWidget(m_database_box, 0, 1);

    auto* dest_label = new QLabel(QStringLiteral("&PostgreSQL database:"), this);
    dest_label->setObjectName(ctrl_name(id_dest_label));
    auto* destination = new QLineEdit(this);
    destination->setObjectName(ctrl_name(id_destination));
    dest_label->setBuddy(destination);
    auto* browse_script = new QPushButton(QStringLiteral("Browse..."), this);
    browse_script->setObjectName(ctrl_name(id_browse_script));
    browse_script->hide();
    grid->addWidget(dest_label, 1, 0);
    grid->addWidget(destination, 1, 1);
    grid->addWidget(browse_script, 1, 2);

    auto* encoding_label = new QLabel(QStringLiteral("PostgreSQL &encoding:"), this);
    m_encoding_box = new QComboBox(this);
    m_encoding_box->setObjectName(ctrl_name(id_encoding));
    encoding_label->setBuddy(m_encoding_box);
    grid->addWidget(encoding_label, 2, 0);
    grid->addWidget(m_encoding_box, 2, 1);

    auto* log_label = new QLabel(QStringLiteral("&Logfile (leave blank to disable logging):"), this);
    auto* log_file = new QLineEdit(this);
    log_file->setObjectName(ctrl_name(id_log_file));
    log_label->setBuddy(log_file);
    auto* browse_log = new QPushButton(QStringLiteral("Browse..."), this);
    browse_log->setObjectName(ctrl_name(id_browse_log));
    grid->addWidget(log_label, 3, 0, 1, 3);
    grid->addWidget(log_file, 4, 0, 1, 2);
    grid->addWidget(browse_log, 4, 2);
    grid->setColumnStretch(1, 1);
    layout->addStretch(1);

    // Nothing may leave a slot by exception.
    auto guarded = [](auto fn) {
        return [fn] {
            try {
                fn();
            } catch (...) {
                wizard_report_current_exception();
            }
        };
    };
    m_database_box->on_dropdown = guarded([this] { on_dropdown(); });
    connect(m_database_box, &QComboBox::activated, this, guarded([this] { on_sel_change(); }));
    connect(browse_script, &QPushButton::clicked, this, guarded([this] { choose_script_file(); }));
    connect(browse_log, &QPushButton::clicked, this, guarded([this] { choose_log_file(); }));
}

sel_file_page::~sel_file_page() = default;

bool sel_file_page::page_init()
{
    tk_write_log(1, "sel_file_page::page_init");
    const pelmora_convertor& cvt = *pelmora_convertor::instance();
    if (!cvt.get_logfile().empty())
        ctrl_as<QLineEdit>(id_log_file)->setText(QString::fromStdString(cvt.get_logfile()));
    ctrl_as<QLabel>(id_dest_label)
        ->setText(cvt.b_direct ? QStringLiteral("&PostgreSQL database:") : QStringLiteral("&PostgreSQL script file:"));
    show_ctrl(id_browse_script, !cvt.b_direct);

    if (!m_databases_listed)
        m_database_box->clear();

    if (!m_encodings_listed) {
        m_encoding_box->clear();
        for (const std::wstring& name : pgs_engine::get_encodings())
            m_encoding_box->addItem(QString::fromStdWString(name));
        m_encodings_listed = true;
    }
    {
        // Shown from the settings on every arrival (a profile loaded since
        // the last visit decides it): the first item that begins with the
        // stored encoding, item 0 tried last; none matching leaves the box
        // without a selection.
        const QString stored = QString::fromStdWString(cvt.client_encoding);
        const int count = m_encoding_box->count();
        int found = -1;
        for (int step = 1; step <= count && !stored.isEmpty(); ++step) {
            const int i = step % count;
            if (starts_with_no_case(m_encoding_box->itemText(i), stored)) {
                found = i;
                break;
            }
        }
        m_encoding_box->setCurrentIndex(found);
    }

    const std::wstring& source = cvt.get_source();
    const std::wstring& destination = cvt.get_destination();
    if (source.empty() && destination.empty())
        return true;
    m_database_box->setEditText(QString::fromStdWString(source));
    const std::wstring shown = destination.empty() ? source : destination;
    ctrl_as<QLineEdit>(id_destination)->setText(
        QString::fromStdWString(cvt.b_direct ? database_name_for(shown, source) : script_path_for(shown)));
    return true;
}

std::wstring sel_file_page::script_path_for(const std::wstring& name)
{
    if (name.empty() || name.find(L'/') != std::wstring::npos)
        return name;
    // A bare name (a database name remembered from a live conversion, say)
    // would land in whatever folder the program was started from.
    std::wstring file = name;
    if (!tk_wstring::ends_with(file, L".sql", false))
        file += L".sql";
    return file_dialog::start_folder() + L"/" + file;
}

std::wstring sel_file_page::database_name_for(const std::wstring& name, const std::wstring& source)
{
    // A script path remembered from an earlier conversion is no database name.
    return name.find(L'/') != std::wstring::npos ? source : name;
}

void sel_file_page::on_dropdown()
{
    tk_write_log(1, "sel_file_page::on_dropdown");
    pelmora_convertor& cvt = *pelmora_convertor::instance();
    if (!m_databases_listed) {
        // The box's own text survives the fill: the user may have typed a name.
        const QString typed = m_database_box->currentText();
        const std::vector<std::wstring> names =
            run_off_window(window(), [&cvt] { return cvt.get_sql_engine().get_contents(); });
        for (const std::wstring& name : names)
            m_database_box->addItem(QString::fromStdWString(name));
        m_database_box->setCurrentIndex(-1);
        m_database_box->setEditText(typed);
        m_databases_listed = true;
    }
    const QString source = QString::fromStdWString(cvt.get_source());
    if (source.isEmpty())
        return;
    for (int i = 0; i < m_database_box->count(); ++i) {
        if (starts_with_no_case(m_database_box->itemText(i), source)) {
            m_database_box->setCurrentIndex(i);
            break;
        }
    }
}

void sel_file_page::on_sel_change()
{
    tk_write_log(1, "sel_file_page::on_sel_change");
    auto* destination = ctrl_as<QLineEdit>(id_destination);
    if (destination->text().isEmpty())
        destination->setText(m_database_box->currentText());
    // Choices made for another database do not apply to this one.
    pelmora_convertor& cvt = *pelmora_convertor::instance();
    cvt.selected_tables.clear();
    cvt.query_list.clear();
    cvt.selected_views.clear();
    cvt.available_queries.clear();
}

std::wstring sel_file_page::get_sql_title() const
{
    tk_write_log(1, "sel_file_page::get_sql_title");
    const std::wstring text = m_database_box->currentText().toStdWString();
    if (text.empty())
        tk_write_log(2, "Failed to exract text of selected item");
    else
        tk_write_wlog(1, L"text=%s", text.c_str());
    return text;
}

void sel_file_page::store_settings()
{
    pelmora_convertor& cvt = *pelmora_convertor::instance();
    cvt.set_source(get_sql_title());
    cvt.set_destination(ctrl_as<QLineEdit>(id_destination)->text().toStdWString());
    cvt.set_logfile(ctrl_as<QLineEdit>(id_log_file)->text().toStdString());
    // Only a chosen item is an encoding; with none chosen the previous one
    // stays, so the server is never sent an empty encoding.
    if (m_encoding_box->currentIndex() >= 0)
        cvt.client_encoding = m_encoding_box->currentText().toStdWString();
}

void sel_file_page::show_error(const tk_exception& e)
{
    tk_error_converter texts(pgs_error_table);
    texts.load_map(mysql_error_table);
    std::string text = wizard_shell::as_paragraph(texts.convert(e.get_error_code()));
    wizard_shell::error_ansi(text.empty() ? e.get_message() : text);
}

int sel_file_page::on_next()
{
    pelmora_convertor& cvt = *pelmora_convertor::instance();
    try {
        store_settings();
        const std::wstring& source = cvt.get_source();
        const std::wstring destination = cvt.get_destination();
        if (source.empty()) {
            wizard_shell::message(L"You should enter MySQL database name");
            return -1;
        }
        if (destination.empty()) {
            wizard_shell::message(cvt.b_direct ? L"You should enter PostgreSQL database name"
                                               : L"You should enter PostgreSQL script file name");
            return -1;
        }
        if (!run_off_window(window(), [&cvt, &source] { return cvt.is_mysql_base_exist(source); })) {
            wizard_shell::message(L"MySQL database does not exist");
            return -1;
        }
        return cvt.b_direct ? next_for_database(destination) : next_for_script(destination);
    } catch (const tk_exception& e) {
        show_error(e);
        return -1;
    }
}

int sel_file_page::next_for_script(const std::wstring& destination)
{
    common_check_dest(destination);
    // The earlier script stays as it is until the new one is finished: the
    // run writes beside it and puts the new one in its place at its end, so
    // Cancel or a failure leaves the user the old one.
    if (tk_is_file_exist2(destination, tk_file_exists_mode) &&
        !wizard_shell::question(L"Destination file already exists. Overwrite?\n"
                                L"It is replaced when the conversion finishes.",
                                true))
        return -1;
    return 0;
}

int sel_file_page::next_for_database(const std::wstring& destination)
{
    pelmora_convertor& cvt = *pelmora_convertor::instance();
    pgs_engine& engine = cvt.get_pgs_engine();
    // A failed test or drop is shown and the page stays: going on would start
    // a run on a destination nobody checked.
    if (!run_off_window(window(), [&engine, &destination] { return engine.is_db_exist(destination); }))
        return 0;

    overwrite_dlg3 dialog(overwrite_dialog_id, overwrite_text, overwrite_help_topic, this);
    if (dialog.exec() != QDialog::Accepted)
        return -1;
    const int mode = dialog.get_mode();
    if (mode == udb_mode_overwrite_db) {
        // The database named on the PostgreSQL page is the one the wizard is
        // connected to: the server cannot drop it.
        if (!cvt.conn_db_name.empty() && cvt.conn_db_name == destination)
            throw tk_exception(predefined_text, 1);
        run_off_window(window(), [&cvt, &engine, &destination] {
            // Listing the destination's schemas leaves the engine connected to
            // it; go back to the connection's own database before dropping.
            if (engine.remembered_db() == tk_unicode_to_utf8(destination))
                cvt.connect_pgs_server(tk_unicode_to_ansi(cvt.conn_db_name));
            engine.delete_db(destination);
        });
    }
    cvt.set_mode(mode);
    return 0;
}

int sel_file_page::on_back()
{
    try {
        store_settings();
    } catch (const tk_exception& e) {
        show_error(e);
        return -1;
    }
    return pelmora_convertor::instance()->b_direct ? 0 : mysql_page_info.idd;
}

void sel_file_page::choose_script_file()
{
    auto* edit = ctrl_as<QLineEdit>(id_destination);
    // An existing script is asked about when the page is left.
    save_file_dialog dialog(this, L"PostgreSQL Script Files|*.sql|All Files|*|", L"Select File",
                            edit->text().toStdWString(), L"sql", false);
    if (dialog.show())
        edit->setText(QString::fromStdWString(dialog.file_name()));
}

void sel_file_page::choose_log_file()
{
    auto* edit = ctrl_as<QLineEdit>(id_log_file);
    save_file_dialog dialog(this, L"Log Files|*.log|All Files|*|", L"Select Log File", edit->text().toStdWString(),
                            L"log");
    if (dialog.show())
        edit->setText(QString::fromStdWString(dialog.file_name()));
}
