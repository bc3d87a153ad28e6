#include "pmr_shel/pgs_settings_page.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "GUI2/off_window.h"
#include "GUI2/wizard_shell.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "driver/error_handler.h"
#include "driver/pelmora_convertor.h"
#include "pmr_shel/port_text.h"
#include "pmr_shel/ssl_settings_dlg.h"
#include "pmr_shel/wizard_pages.h"

namespace {

constexpr int id_database = 1002;
constexpr int id_user = 1012;
constexpr int id_password = 1013;
constexpr int id_host = 1014;
constexpr int id_port = 1015;
constexpr int id_advanced = 1201;

constexpr int default_port = 5432;

}  // namespace

pgs_settings_page::pgs_settings_page(QWidget* parent) : wizard_page(pgs_page_info, parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(
        QStringLiteral("Provide necessary information to establish connection with PostgreSQL server."), this));

    auto* server = new QGroupBox(QStringLiteral(" Server settings "), this);
    auto* grid = new QGridLayout(server);
    auto add_edit = [this, server, grid](int row, const QString& label, int id, const QString& note) {
        auto* caption = new QLabel(label, server);
        auto* edit = new QLineEdit(server);
        edit->setObjectName(ctrl_name(id));
        caption->setBuddy(edit);
        grid->addWidget(caption, row, 0);
        grid->addWidget(edit, row, 1);
        if (!note.isEmpty())
            grid->addWidget(new QLabel(note, server), row, 2);
        return edit;
    };
    add_edit(0, QStringLiteral("H&ost:"), id_host, QStringLiteral("(network name or IP address)"));
    add_edit(1, QStringLiteral("&Port:"), id_port, QStringLiteral("(default port is 5432)"));
    add_edit(2, QStringLiteral("&Username:"), id_user, QString());
    add_edit(3, QStringLiteral("Pa&ssword:"), id_password, QString())->setEchoMode(QLineEdit::Password);
    add_edit(4, QStringLiteral("&Database:"), id_database, QString());
    grid->addWidget(new QLabel(QStringLiteral("(connect to non-default database, name is case sensitive)"), server),
                    5, 1, 1, 2);
    grid->setColumnStretch(1, 1);
    layout->addWidget(server);

    auto* advanced = new QPushButton(QStringLiteral("Advanced..."), this);
    advanced->setObjectName(ctrl_name(id_advanced));
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(advanced);
    layout->addLayout(row);
    layout->addStretch(1);
    connect(advanced, &QPushButton::clicked, this, [this] {
        try {
            on_advanced();
        } catch (...) {
            wizard_report_current_exception();
        }
    });
}

pgs_settings_page::~pgs_settings_page() = default;

bool pgs_settings_page::page_init()
{
    tk_write_log(1, "pgs_settings_page_impl<t_converter>::page_init");
    const pelmora_convertor& cvt = *pelmora_convertor::instance();
    ctrl_as<QLineEdit>(id_database)->setText(QString::fromStdString(m_database));
    ctrl_as<QLineEdit>(id_user)->setText(QString::fromStdString(cvt.pgs_user));
    ctrl_as<QLineEdit>(id_password)->setText(QString::fromStdString(cvt.pgs_password));
    ctrl_as<QLineEdit>(id_port)->setText(QString::number(cvt.pgs_port == 0 ? default_port : cvt.pgs_port));
    ctrl_as<QLineEdit>(id_host)->setText(QString::fromStdString(cvt.pgs_host));
    return true;
}

bool pgs_settings_page::store_settings()
{
    tk_write_log(1, "pgs_settings_page_impl<t_converter>::store_settings");
    pelmora_convertor& cvt = *pelmora_convertor::instance();
    cvt.pgs_host = ctrl_as<QLineEdit>(id_host)->text().toStdString();
    cvt.pgs_user = ctrl_as<QLineEdit>(id_user)->text().toStdString();
    cvt.pgs_password = ctrl_as<QLineEdit>(id_password)->text().toStdString();
    m_database = ctrl_as<QLineEdit>(id_database)->text().toStdString();
    tk_write_log(1, "pgs_db=%s", m_database.c_str());
    // An emptied box stores 0: the connection then names no port.
    return read_port_text(ctrl_as<QLineEdit>(id_port)->text(), cvt.pgs_port);
}

void pgs_settings_page::take_destination()
{
    if (m_database.empty())
        return;
    pelmora_convertor& cvt = *pelmora_convertor::instance();
    const std::wstring name = tk_ansi_to_unicode(m_database);
    cvt.set_destination(name);
    cvt.conn_db_name = name;
}

int pgs_settings_page::on_next()
{
    tk_write_log(1, "pgs_settings_page::on_next");
    tk_write_log(1, "pgs_settings_page_impl<>::on_next");
    pelmora_convertor& cvt = *pelmora_convertor::instance();
    if (!store_settings()) {
        wizard_shell::error_ansi(invalid_port_text);
        return -1;
    }
    int result = 0;
    try {
        const std::string database = m_database;
        run_off_window(window(), [&cvt, &database] { cvt.connect_pgs_server(database); });
    } catch (const tk_exception& e) {
        const tk_error_converter texts(pgs_error_table);
        std::string text = wizard_shell::as_paragraph(texts.convert(e.get_error_code()));
        if (text.empty())
            text = e.get_message();
        else if (!e.get_message().empty())
            text += "\n\n" + e.get_message();
        if (!text.empty() && text.back() != '\n')
            text += '\n';
        wizard_shell::error_ansi(text + "\n" + help_hint_text);
        result = -1;
    }
    take_destination();
    // The database the engine is connected to now: only that one cannot be
    // dropped on the database page.
    if (result == 0)
        cvt.conn_db_name = tk_ansi_to_unicode(m_database);
    return result;
}

int pgs_settings_page::on_back()
{
    store_settings();
    take_destination();
    return 0;
}

void pgs_settings_page::on_advanced()
{
    pgs_advanced_settings dialog(pelmora_convertor::instance()->get_pgs_engine(), this);
    dialog.exec();
}
