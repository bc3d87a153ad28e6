#include "pmr_shel/ssl_settings_dlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "GUI2/file_dialogs.h"
#include "GUI2/wizard_shell.h"
#include "TK/tk_log.h"
#include "pg_target/pgs_engine.h"

namespace {

QString control_name(int id) { return QStringLiteral("ctl_%1").arg(id); }

}  // namespace

pgs_advanced_settings::pgs_advanced_settings(pgs_engine& engine, QWidget* owner)
    : QDialog(owner), m_engine(engine)
{
    tk_write_log(1, "pgs_advanced_settings::pgs_advanced_settings");
    setObjectName(QStringLiteral("dlg_%1").arg(template_id));
    setWindowTitle(QStringLiteral("PostgreSQL Advanced Settings"));

    auto* frame = new QGroupBox(this);
    auto* grid = new QGridLayout(frame);

    auto add_check = [&](int id, const QString& text, int row) {
        auto* box = new QCheckBox(text, frame);
        box->setObjectName(control_name(id));
        grid->addWidget(box, row, 0, 1, 3);
        return box;
    };
    auto add_path = [&](int edit_id, int button_id, const QString& label, int row, QLineEdit*& edit,
                        QPushButton*& button, const QString& title) {
        auto* caption = new QLabel(label, frame);
        edit = new QLineEdit(frame);
        edit->setObjectName(control_name(edit_id));
        edit->setMinimumWidth(280);
        caption->setBuddy(edit);
        button = new QPushButton(QStringLiteral("Browse..."), frame);
        button->setObjectName(control_name(button_id));
        grid->addWidget(caption, row, 0);
        grid->addWidget(edit, row, 1);
        grid->addWidget(button, row, 2);
        QLineEdit* target = edit;
        connect(button, &QPushButton::clicked, this, [this, target, title] { browse(target, title); });
    };

    m_use_ssl = add_check(1202, QStringLiteral("Use &SSL"), 0);
    add_path(1003, 1103, QStringLiteral("C&A Certificate:"), 1, m_root_cert, m_browse_root,
             QStringLiteral("Select Root Certificate"));
    add_path(1004, 1107, QStringLiteral("&Revocation List:"), 2, m_revocation, m_browse_revocation,
             QStringLiteral("Select Revocation List"));
    m_use_auth = add_check(1203, QStringLiteral("&Use Authentication"), 3);
    add_path(1005, 1104, QStringLiteral("&Client Certificate:"), 4, m_client_cert, m_browse_cert,
             QStringLiteral("Select Client Certificate"));
    add_path(1006, 1105, QStringLiteral("Client &Key:"), 5, m_client_key, m_browse_key,
             QStringLiteral("Select Client Key"));
    grid->setColumnStretch(1, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help,
                                         this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(control_name(1));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(control_name(2));
    buttons->button(QDialogButtonBox::Help)->setObjectName(control_name(9));
    connect(buttons, &QDialogButtonBox::accepted, this, &pgs_advanced_settings::on_ok);
    connect(buttons, &QDialogButtonBox::rejected, this, [this] {
        tk_write_log(1, "pgs_advanced_settings::on_cancel");
        reject();
    });
    connect(buttons, &QDialogButtonBox::helpRequested, this, &pgs_advanced_settings::on_help);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    layout->addWidget(buttons);

    // The boxes toggle themselves; each click only re-derives what can be edited.
    connect(m_use_ssl, &QCheckBox::toggled, this, &pgs_advanced_settings::update_enabled);
    connect(m_use_auth, &QCheckBox::toggled, this, &pgs_advanced_settings::update_enabled);

    on_init();
}

pgs_advanced_settings::~pgs_advanced_settings() = default;

void pgs_advanced_settings::on_init()
{
    tk_write_log(1, "pgs_advanced_settings::on_init");
    m_use_ssl->setChecked(m_engine.ssl_use);
    m_root_cert->setText(QString::fromStdWString(m_engine.ssl_rcert));
    m_revocation->setText(QString::fromStdWString(m_engine.ssl_revoc));
    m_client_cert->setText(QString::fromStdWString(m_engine.ssl_ccert));
    m_client_key->setText(QString::fromStdWString(m_engine.ssl_clkey));
    m_use_auth->setChecked(m_engine.ssl_auth);
    update_enabled();
}

void pgs_advanced_settings::update_enabled()
{
    const bool ssl = m_use_ssl->isChecked();
    const bool client = ssl && m_use_auth->isChecked();
    for (QWidget* w : {static_cast<QWidget*>(m_root_cert), static_cast<QWidget*>(m_browse_root),
                       static_cast<QWidget*>(m_revocation), static_cast<QWidget*>(m_browse_revocation),
                       static_cast<QWidget*>(m_use_auth)})
        w->setEnabled(ssl);
    for (QWidget* w : {static_cast<QWidget*>(m_client_cert), static_cast<QWidget*>(m_browse_cert),
                       static_cast<QWidget*>(m_client_key), static_cast<QWidget*>(m_browse_key)})
        w->setEnabled(client);
}

void pgs_advanced_settings::on_ok()
{
    tk_write_log(1, "pgs_advanced_settings::on_ok");
    // Stored as typed, also for switched-off parts: the connection attempt
    // reports a wrong path with the client library's own text.
    m_engine.ssl_use = m_use_ssl->isChecked();
    m_engine.ssl_rcert = m_root_cert->text().toStdWString();
    m_engine.ssl_revoc = m_revocation->text().toStdWString();
    m_engine.ssl_auth = m_use_auth->isChecked();
    m_engine.ssl_ccert = m_client_cert->text().toStdWString();
    m_engine.ssl_clkey = m_client_key->text().toStdWString();
    accept();
}

void pgs_advanced_settings::on_help()
{
    wizard_shell::instance()->display_help(help_topic);
}

void pgs_advanced_settings::browse(QLineEdit* edit, const QString& title)
{
    open_file_dialog dialog(this, L"All Files|*|", title.toStdWString(), edit->text().toStdWString());
    if (dialog.show())
        edit->setText(QString::fromStdWString(dialog.file_name()));
}
