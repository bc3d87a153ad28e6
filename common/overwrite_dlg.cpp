#include "common/overwrite_dlg.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QVBoxLayout>

#include "GUI2/wizard_shell.h"
#include "TK/tk_log.h"

namespace {

struct choice {
    int control_id;
    const char* text;
};

// In mode order: the button's index in this table is the mode it sets.
constexpr choice choices[] = {
    {1329, "&Overwrite the entire database"},
    {1330, "Overwrite existing &tables only"},
    {1331, "&Skip existing tables"},
    {1332, "&Merge"},
    {1339, "S&ynchronize"},
};

QString control_name(int id) { return QStringLiteral("ctl_%1").arg(id); }

}  // namespace

overwrite_dlg2::overwrite_dlg2(int template_id, std::wstring message, int help_topic, QWidget* owner)
    : overwrite_dlg2(template_id, std::move(message), help_topic, 4, owner)
{
}

overwrite_dlg2::overwrite_dlg2(int template_id, std::wstring message, int help_topic, int choice_count,
                               QWidget* owner)
    : QDialog(owner), m_message(std::move(message)), m_help_topic(help_topic)
{
    tk_write_log(1, "overwrite_dlg2::ctor");
    build(template_id, choice_count);
}

overwrite_dlg2::~overwrite_dlg2() = default;

void overwrite_dlg2::build(int template_id, int choice_count)
{
    tk_write_log(1, "overwrite_dlg2::on_init");
    setObjectName(QStringLiteral("dlg_%1").arg(template_id));
    setWindowTitle(QString::fromStdWString(wizard_shell::instance()->title()) + QStringLiteral(" Warning"));

    auto* icon = new QLabel(this);
    const int icon_size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(icon_size));
    icon->setAlignment(Qt::AlignTop);
    auto* text = new QLabel(QString::fromStdWString(m_message), this);
    text->setObjectName(control_name(1320));
    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addWidget(text, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    m_choices = new QButtonGroup(this);
    for (int mode = 0; mode < choice_count; ++mode) {
        auto* radio = new QRadioButton(QString::fromLatin1(choices[mode].text), this);
        radio->setObjectName(control_name(choices[mode].control_id));
        m_choices->addButton(radio, mode);
        layout->addWidget(radio);
    }
    m_choices->button(0)->setChecked(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help,
                                         this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(control_name(1));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(control_name(2));
    buttons->button(QDialogButtonBox::Help)->setObjectName(control_name(9));
    connect(buttons, &QDialogButtonBox::accepted, this, &overwrite_dlg2::on_ok);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::helpRequested, this, &overwrite_dlg2::on_help);
    layout->addWidget(buttons);
}

void overwrite_dlg2::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        raise();
        activateWindow();
        QApplication::beep();
    }
}

void overwrite_dlg2::on_ok()
{
    // The group is exclusive and starts with the first choice checked, so one
    // button is always checked.
    const int checked = m_choices->checkedId();
    m_mode = checked < 0 ? 0 : checked;
    accept();
}

void overwrite_dlg2::on_help()
{
    wizard_shell::instance()->display_help(m_help_topic);
}

overwrite_dlg3::overwrite_dlg3(int template_id, std::wstring message, int help_topic, QWidget* owner)
    : overwrite_dlg2(template_id, std::move(message), help_topic, 5, owner)
{
    tk_write_log(1, "overwrite_dlg3::ctor");
}
