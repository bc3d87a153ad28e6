#include "pmr_shel/mysql_settings_page.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "GUI2/off_window.h"
#include "GUI2/wizard_shell.h"
#include "SQL/sql_exception.h"
#include "TK/tk_log.h"
#include "driver/error_handler.h"
#include "driver/pelmora_convertor.h"
#include "pmr_shel/port_text.h"
#include "pmr_shel/wizard_pages.h"

namespace {

constexpr int id_local = 1329;
constexpr int id_remote = 1330;
constexpr int id_user = 1012;
constexpr int id_password = 1013;
constexpr int id_host = 1014;
constexpr int id_port = 1015;

constexpr int choice_local = 0;
constexpr int choice_remote = 1;

// MySQL errors of the authentication protocol: the help page on them opens
// after the box.
bool is_auth_error(int code)
{
    const int number = code & 0xFFFF;
    return number == 1249 || number == 1250 || number == 1251;
}

constexpr const char* auth_text =
    "The MySQL server asks for a way of logging in that this program cannot use.\n"
    "The help page 'MySQL authentication problems' opens next: it says what to change.";

constexpr const char* no_host_text =
    "Enter the host name or IP address of the MySQL server, or choose Local for the server on this computer.";

}  // namespace

sql_settings_page::sql_settings_page(QWidget* parent) : wizard_page(mysql_page_info, parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        new QLabel(QStringLiteral("Provide necessary information to establish connection with MySQL server."), this));

    auto* access = new QGroupBox(QStringLiteral(" Access mode "), this);
    auto* access_row = new QHBoxLayout(access);
    auto* local = new QRadioButton(QStringLiteral("&Local"), access);
    local->setObjectName(ctrl_name(id_local));
    auto* remote = new QRadioButton(QStringLiteral("&Remote"), access);
    remote->setObjectName(ctrl_name(id_remote));
    access_row->addWidget(local);
    access_row->addWidget(remote);
    access_row->addStretch(1);
    m_access = new QButtonGroup(this);
    m_access->addButton(local, choice_local);
    m_access->addButton(remote, choice_remote);
    layout->addWidget(access);

    auto add_edit = [this](QGridLayout* grid, int row, const QString& label, int id, const QString& note) {
        auto* caption = new QLabel(label, this);
        auto* edit = new QLineEdit(this);
        edit->setObjectName(ctrl_name(id));
        caption->setBuddy(edit);
        grid->addWidget(caption, row, 0);
        grid->addWidget(edit, row, 1);
        if (!note.isEmpty())
            grid->addWidget(new QLabel(note, this), row, 2);
        return edit;
    };

    auto* auth = new QGroupBox(QStringLiteral(" Authorization settings "), this);
    auto* auth_grid = new QGridLayout(auth);
    add_edit(auth_grid, 0, QStringLiteral("&User name:"), id_user, QString());
    add_edit(auth_grid, 1, QStringLiteral("User pa&ssword:"), id_password, QString())
        ->setEchoMode(QLineEdit::Password);
    auth_grid->setColumnStretch(1, 1);
    layout->addWidget(auth);

    auto* remote_box = new QGroupBox(QStringLiteral(" Remote settings "), this);
    auto* remote_grid = new QGridLayout(remote_box);
    add_edit(remote_grid, 0, QStringLiteral("H&ost:"), id_host, QStringLiteral("(it could be network name or IP address)"));
    add_edit(remote_grid, 1, QStringLiteral("&Port:"), id_port, QStringLiteral("(default MySQL port is 3306)"));
    remote_grid->setColumnStretch(1, 1);
    layout->addWidget(remote_box);
    layout->addStretch(1);

    connect(m_access, &QButtonGroup::idClicked, this, [this](int id) { switch_remote(id == choice_remote); });
}

sql_settings_page::~sql_settings_page() = default;

void sql_settings_page::switch_remote(bool remote)
{
    enable_ctrl(id_host, remote);
    enable_ctrl(id_port, remote);
}

bool sql_settings_page::page_init()
{
    tk_write_log(1, "sql_settings_page2::page_init");
    const pelmora_convertor& cvt = *pelmora_convertor::instance();
    ctrl_as<QLineEdit>(id_user)->setText(QString::fromStdString(cvt.mysql_user));
    ctrl_as<QLineEdit>(id_password)->setText(QString::fromStdString(cvt.mysql_password));
    // The port box shows the port that would be used (3306 unless another
    // was stored), also while Local leaves it disabled.
    ctrl_as<QLineEdit>(id_port)->setText(QString::fromStdString(cvt.mysql_port.empty() ? "3306" : cvt.mysql_port));
    if (cvt.mysql_host.empty()) {
        m_access->button(choice_local)->setChecked(true);
        switch_remote(false);
    } else {
        m_access->button(choice_remote)->setChecked(true);
        switch_remote(true);
        ctrl_as<QLineEdit>(id_host)->setText(QString::fromStdString(cvt.mysql_host));
    }
    return true;
}

void sql_settings_page::store_settings()
{
    tk_write_log(1, "sql_settings_page2::store_settings");
    std::string host;
    std::string port = "3306";
    if (m_access->checkedId() == choice_remote) {
        host = ctrl_as<QLineEdit>(id_host)->text().toStdString();
        port = ctrl_as<QLineEdit>(id_port)->text().toStdString();
    }
    const std::string user = ctrl_as<QLineEdit>(id_user)->text().toStdString();
    const std::string password = ctrl_as<QLineEdit>(id_password)->text().toStdString();
    pelmora_convertor::instance()->store_mysql_settings(host, user, password, port);
}

int sql_settings_page::on_next()
{
    tk_write_log(1, "sql_settings_page::on_next");
    tk_write_log(1, "sql_settings_page2::on_next");
    pelmora_convertor& cvt = *pelmora_convertor::instance();
    store_settings();
    // The client library would take "33o6" as port 33: a box that is not a
    // number is refused before anything connects.
    int port = 0;
    if (m_access->checkedId() == choice_remote && !read_port_text(ctrl_as<QLineEdit>(id_port)->text(), port)) {
        wizard_shell::error_ansi(invalid_port_text);
        return -1;
    }
    // Without a host the client library would quietly try this computer's
    // socket: Remote with an empty box is a slip, not a choice of Local.
    if (m_access->checkedId() == choice_remote && ctrl_as<QLineEdit>(id_host)->text().trimmed().isEmpty()) {
        wizard_shell::error_ansi(no_host_text);
        return -1;
    }
    try {
        run_off_window(window(), [&cvt] { cvt.connect_mysql_server(); });
    } catch (const sql_auth_not_supported_exception&) {
        wizard_shell::error_ansi(auth_text);
        shell().display_help(auth_help_topic);
        return -1;
    } catch (const tk_exception& e) {
        // The advice, then what the server or the client library said: the
        // advice alone hides which of its causes it was.
        const bool auth = is_auth_error(e.get_error_code());
        const tk_error_converter texts(mysql_error_table);
        std::string text =
            auth ? std::string(auth_text) : wizard_shell::as_paragraph(texts.convert(e.get_error_code()));
        if (text.empty())
            text = e.get_message();
        else if (!e.get_message().empty())
            text += "\n\n" + e.get_message();
        wizard_shell::error_ansi(text);
        if (auth)
            shell().display_help(auth_help_topic);
        return -1;
    }
    return cvt.b_direct ? 0 : database_page_info.idd;
}

int sql_settings_page::on_back()
{
    store_settings();
    return 0;
}
