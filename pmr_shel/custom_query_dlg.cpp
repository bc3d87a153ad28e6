#include "pmr_shel/custom_query_dlg.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "GUI2/off_window.h"
#include "GUI2/wizard_shell.h"
#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "driver/pelmora_convertor.h"

namespace {

constexpr int help_topic = 1019;


bool is_blank(wchar_t c) noexcept { return c == L'\t' || c == L'\n' || c == L'\r' || c == L' '; }

}  // namespace

set_query_dlg::set_query_dlg(std::wstring name, std::wstring query, QWidget* parent)
    : QDialog(parent), m_name(std::move(name)), m_query(std::move(query))
{
    tk_write_log(1, "set_query_dlg::set_query_dlg");
    setObjectName("dlg_128");
    setWindowTitle("Add Query");

    auto* name_label = new QLabel("&Store as Table:", this);
    m_name_box = new QLineEdit(this);
    m_name_box->setObjectName("ctl_1019");
    name_label->setBuddy(m_name_box);

    auto* query_label = new QLabel("&Query:", this);
    m_query_box = new QPlainTextEdit(this);
    m_query_box->setObjectName("ctl_1020");
    m_query_box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_query_box->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    query_label->setBuddy(m_query_box);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QDialogButtonBox::Ok);
    ok->setObjectName("ctl_1");
    QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
    cancel->setObjectName("ctl_2");
    QPushButton* test = buttons->addButton("&Test Query", QDialogButtonBox::ActionRole);
    test->setObjectName("ctl_129");
    QPushButton* help = buttons->addButton(QDialogButtonBox::Help);
    help->setObjectName("ctl_9");
    connect(buttons, &QDialogButtonBox::accepted, this, &set_query_dlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &set_query_dlg::reject);
    connect(test, &QPushButton::clicked, this, &set_query_dlg::on_test_query);
    connect(help, &QPushButton::clicked, this, [] {
        try {
            wizard_shell::instance()->display_help(help_topic);
        } catch (...) {
            wizard_report_current_exception();
        }
    });

    auto* grid = new QGridLayout(this);
    grid->addWidget(name_label, 0, 0);
    grid->addWidget(m_name_box, 0, 1);
    grid->addWidget(query_label, 1, 0, Qt::AlignTop);
    grid->addWidget(m_query_box, 1, 1);
    grid->addWidget(buttons, 2, 0, 1, 2);
    grid->setRowStretch(1, 1);
    resize(560, 360);

    tk_write_log(1, "set_query_dlg::on_init");
    m_name_box->setText(QString::fromStdWString(m_name));
    m_query_box->setPlainText(QString::fromStdWString(m_query));
}

bool set_query_dlg::strip_and_check(std::wstring& text)
{
    if (text.empty())
        return false;
    std::size_t first = 0;
    while (first < text.size() && is_blank(text[first]))
        ++first;
    if (first > 0 && first < text.size())
        text.erase(0, first);
    return !(text.size() >= 6 && tk_equal_no_case(std::wstring_view(text).substr(0, 6), L"SELECT"));
}

void set_query_dlg::accept()
{
    tk_write_log(1, "set_query_dlg::on_ok");
    try {
        m_name = m_name_box->text().toStdWString();
        if (m_name.empty()) {
            wizard_shell::message(L"Table name is empty!");
            return;
        }
        m_query = m_query_box->toPlainText().toStdWString();
        if (strip_and_check(m_query)) {
            wizard_shell::error(L"The query must start with SELECT.");
            return;
        }
        if (m_query.empty()) {
            wizard_shell::error(L"Query is empty!");
            return;
        }
    } catch (...) {
        wizard_report_current_exception();
        return;
    }
    QDialog::accept();
}

void set_query_dlg::reject()
{
    tk_write_log(1, "set_query_dlg::on_cancel");
    QDialog::reject();
}

void set_query_dlg::on_test_query()
{
    try {
        const std::wstring typed = m_query_box->toPlainText().toStdWString();
        std::wstring copy = typed;
        if (strip_and_check(copy)) {
            wizard_shell::error(L"The query must start with SELECT.");
            return;
        }
        // Prepared on the server only: a query is never run by testing it.
        pelmora_convertor& cvt = *pelmora_convertor::instance();
        const std::string refusal = run_off_window(this, [&cvt, &typed] { return cvt.query_refusal(typed); });
        if (refusal.empty())
            wizard_shell::message(L"The query is correct.");
        else
            wizard_shell::error(L"The MySQL server refused the query:\n" + tk_utf8_to_unicode(refusal));
    } catch (...) {
        wizard_report_current_exception();
    }
}
