#include "GUI2/wizard_page.h"

#include <QAbstractButton>
#include <QCheckBox>

#include "GUI2/wizard_shell.h"
#include "TK/tk_exception.h"
#include "TK/tk_log.h"

wizard_page::wizard_page(const wizard_page_info& info, QWidget* parent) : QWizardPage(parent), m_info(info)
{
    setObjectName(QStringLiteral("page_%1").arg(info.idd));
    if (!(info.flags & page_hide_header)) {
        setTitle(to_qstring(info.title));
        setSubTitle(to_qstring(info.subtitle));
    }
}

wizard_page::~wizard_page()
{
    tk_write_log(2, "wizard_page::dtor");
    if (auto* sh = wizard_shell::try_instance(); sh && sh->current_page() == this)
        sh->set_current_page(nullptr);
}

QString wizard_page::to_qstring(const wchar_t* text)
{
    return text ? QString::fromWCharArray(text) : QString();
}

wizard_shell& wizard_page::shell() const
{
    return *wizard_shell::instance();
}

bool wizard_page::isComplete() const
{
    // Keeps the sheet's own button logic in step with the page's mask.
    return true;
}

void wizard_page::on_help()
{
    if (m_info.help_topic == help_default)
        shell().display_help();
    else if (m_info.help_topic > 0)
        shell().display_help(m_info.help_topic);
}

bool wizard_page::on_cancel()
{
    tk_write_log(2, "wizard_page::on_cancel");
    return shell().question(L"Are you sure you want to exit the wizard?", true);
}

bool wizard_page::arrive()
{
    tk_write_log(1, "wizard_page::OnSetActive");
    wizard_shell& sh = *wizard_shell::instance();
    sh.set_wizard_buttons(m_info.buttons);
    sh.initialize_if();
    sh.set_current_page(this);
    return page_init();
}

QString wizard_page::ctrl_name(int control_id)
{
    return QStringLiteral("ctl_%1").arg(control_id);
}

QWidget* wizard_page::ctrl(int control_id) const
{
    return findChild<QWidget*>(ctrl_name(control_id));
}

void wizard_page::enable_ctrl(int control_id, bool enable)
{
    tk_write_log(1, "wizard_page::enable_ctrl(%d=%d)", control_id, enable ? 1 : 0);
    if (QWidget* w = ctrl(control_id)) {
        w->setEnabled(enable);
        if (enable)
            w->setFocus();
    }
}

void wizard_page::show_ctrl(int control_id, bool show)
{
    tk_write_log(1, "wizard_page::show_ctrl(%d=%d)", control_id, show ? 1 : 0);
    if (QWidget* w = ctrl(control_id))
        w->setVisible(show);
}

void wizard_page::invert_chbox(int control_id)
{
    tk_write_log(1, "wizard_page::invert_chbox(%d)", control_id);
    auto* box = ctrl_as<QAbstractButton>(control_id);
    if (!box || !box->isCheckable())
        throw tk_mail_assertion("..\\GUI2/g_wiz_pg", 127);
    if (auto* tri = qobject_cast<QCheckBox*>(box); tri && tri->checkState() == Qt::PartiallyChecked) {
        tri->setCheckState(Qt::Checked);
        return;
    }
    box->setChecked(!box->isChecked());
}
