#include "GUI2/error_dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include "GUI2/wizard_shell.h"
#include "TK/tk_desktop.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"

namespace {

QString error_caption()
{
    if (wizard_shell::is_initialized())
        return QString::fromStdWString(wizard_shell::instance()->title()) + QStringLiteral(" Error");
    return QStringLiteral("Error");
}

// The icon and the message side by side, the buttons (and anything else)
// below them.
QVBoxLayout* build_frame(QDialog* dlg, const std::wstring& message)
{
    dlg->setWindowTitle(error_caption());
    dlg->setModal(true);
    auto* outer = new QVBoxLayout(dlg);
    auto* top = new QHBoxLayout;
    auto* icon = new QLabel(dlg);
    const int size = dlg->style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, dlg);
    icon->setPixmap(dlg->style()->standardIcon(QStyle::SP_MessageBoxCritical, nullptr, dlg).pixmap(size, size));
    icon->setAlignment(Qt::AlignTop);
    top->addWidget(icon);
    auto* text = new QLabel(QString::fromStdWString(message), dlg);
    text->setObjectName(QStringLiteral("ctl_1320"));
    text->setWordWrap(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text->setMinimumWidth(360);
    top->addWidget(text, 1);
    outer->addLayout(top);
    return outer;
}

QPushButton* add_button(QDialog* dlg, QHBoxLayout* row, int id, const QString& text)
{
    auto* b = new QPushButton(text, dlg);
    b->setObjectName(QStringLiteral("ctl_%1").arg(id));
    b->setAutoDefault(false);
    row->addWidget(b);
    return b;
}

// Centred over the owner, or on the screen when there is none.
void centre(QDialog* dlg)
{
    dlg->adjustSize();
    QRect area;
    if (QWidget* owner = dlg->parentWidget())
        area = owner->frameGeometry();
    else if (QScreen* s = QGuiApplication::primaryScreen())
        area = s->availableGeometry();
    if (area.isValid()) {
        QRect frame = dlg->frameGeometry();
        frame.moveCenter(area.center());
        dlg->move(frame.topLeft());
    }
}

}  // namespace

dlg_error_ex::dlg_error_ex(const std::wstring& message, QWidget* parent) : QDialog(parent), m_message(message)
{
    tk_write_log(1, "dlg_error_ex::ctor");
    setObjectName(QStringLiteral("dlg_114"));
    tk_write_log(1, "dlg_error_ex::on_init");
    QVBoxLayout* outer = build_frame(this, message);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    QPushButton* send = add_button(this, row, 1112, QStringLiteral("Send bug"));
    QPushButton* ok = add_button(this, row, 1, QStringLiteral("OK"));
    QPushButton* copy = add_button(this, row, 1108, QStringLiteral("Copy to clipboard"));
    outer->addLayout(row);
    send->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] { done(result_ok); });
    connect(copy, &QPushButton::clicked, this, [this] { on_copy(); });
    connect(send, &QPushButton::clicked, this, [this] { on_send_bug(); });
    setWindowFlag(Qt::WindowCloseButtonHint, false);
    centre(this);
}

void dlg_error_ex::on_copy()
{
    try {
        tk_copy_to_clipboard2(m_message);
    } catch (...) {
        tk_write_log(3, "The error text could not be copied");
    }
    done(result_copied);
}

void dlg_error_ex::on_send_bug()
{
    try {
        const std::wstring subject = wizard_shell::is_initialized() ? wizard_shell::instance()->title() : L"";
        tk_send_bug(tk_unicode_to_ansi(subject), tk_unicode_to_ansi(m_message));
    } catch (...) {
        tk_write_log(3, "The bug report could not be mailed");
    }
    done(result_bug_sent);
}

dlg_error_continue::dlg_error_continue(const std::wstring& message, QWidget* parent)
    : QDialog(parent), m_message(message)
{
    tk_write_log(1, "dlg_error_continue::ctor");
    setObjectName(QStringLiteral("dlg_115"));
    tk_write_log(1, "dlg_error_continue::on_init");
    QVBoxLayout* outer = build_frame(this, message);
    m_check = new QCheckBox(QStringLiteral("&Do not show this dialog box again"), this);
    m_check->setObjectName(QStringLiteral("ctl_1222"));
    outer->addWidget(m_check);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    QPushButton* cont = add_button(this, row, 2, QStringLiteral("Continue"));
    QPushButton* abort = add_button(this, row, 1, QStringLiteral("Abort"));
    outer->addLayout(row);
    cont->setDefault(true);
    connect(cont, &QPushButton::clicked, this, [this] { done(result_continue); });
    connect(abort, &QPushButton::clicked, this, [this] { done(result_abort); });
    connect(m_check, &QCheckBox::toggled, this, [this](bool on) { m_do_not_show = on; });
    centre(this);
}
