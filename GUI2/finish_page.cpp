#include "GUI2/finish_page.h"

#include <algorithm>

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "GUI2/file_dialogs.h"
#include "GUI2/wizard_shell.h"
#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "driver/error_handler.h"
#include "driver/pelmora_convertor.h"

gui_finish_page::gui_finish_page(const wizard_page_info& info, std::wstring success_text, std::wstring error_text,
                                 std::wstring extension, QWidget* parent)
    : wizard_page(info, parent),
      m_success_text(std::move(success_text)),
      m_error_text(std::move(error_text)),
      m_extension(std::move(extension))
{
    tk_write_log(2, "gui_finish_page::ctor");
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(QStringLiteral("Conversion is Completed"), this);
    title->setObjectName(QStringLiteral("ctl_1313"));
    QFont f = title->font();
    f.setPointSize(13);
    title->setFont(f);
    title->setWordWrap(true);
    layout->addWidget(title);
    auto* text = new QLabel(this);
    text->setObjectName(QStringLiteral("ctl_1314"));
    text->setWordWrap(true);
    layout->addWidget(text);
    auto* list = new QPlainTextEdit(this);
    list->setObjectName(QStringLiteral("ctl_1016"));
    list->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    list->hide();
    layout->addWidget(list, 1);
    auto* save = new QPushButton(QStringLiteral("&Save Settings..."), this);
    save->setObjectName(QStringLiteral("ctl_1116"));
    auto* row = new QHBoxLayout;
    row->addWidget(save);
    row->addStretch(1);
    layout->addStretch(0);
    layout->addLayout(row);
    connect(save, &QPushButton::clicked, this, [this] {
        try {
            on_store();
        } catch (...) {
            wizard_report_current_exception();
        }
    });
}

std::wstring gui_finish_page::failure_summary(const conversion_failures& failures)
{
    struct kind {
        std::uint64_t count;
        const wchar_t* one;
        const wchar_t* many;
    };
    const kind kinds[] = {
        {failures.tables.load(), L"table", L"tables"},   {failures.rows.load(), L"row", L"rows"},
        {failures.indexes.load(), L"index", L"indexes"}, {failures.keys.load(), L"foreign key", L"foreign keys"},
        {failures.views.load(), L"view", L"views"},
        {failures.sequences.load(), L"sequence", L"sequences"},
        {failures.columns.load(), L"column default or property", L"column defaults or properties"},
        {failures.keyless_merges.load(), L"merge that matched no key (rows appended)", L"merges that matched no key (rows appended)"},
    };
    std::wstring parts;
    for (const kind& k : kinds) {
        if (!k.count)
            continue;
        if (!parts.empty())
            parts += L", ";
        parts += std::to_wstring(k.count) + L" " + (k.count == 1 ? k.one : k.many);
    }
    return parts.empty() ? parts : L"Not converted: " + parts + L".";
}

std::wstring gui_finish_page::ended_early_text(const ended_run& run)
{
    std::wstring text =
        run.aborted ? L"The conversion was aborted." : L"The conversion ended early because of an error.";
    if (!run.live)
        return text + L" The script file was not written: an earlier script of that name was left as it was.";
    const bool in_item = run.items_done < run.items_total;
    if (in_item && !run.table.empty())
        text += L" Table '" + run.table + L"' was not completed.";
    const std::uint32_t begun = run.items_done + (in_item && !run.table.empty() ? 1 : 0);
    const std::uint32_t left = run.items_total > begun ? run.items_total - begun : 0;
    if (left == 1)
        text += L" 1 more table was not converted.";
    else if (left > 1)
        text += L" " + std::to_wstring(left) + L" more tables were not converted.";
    text += in_item ? L" Foreign keys and views were not created."
                    : L" Foreign keys and views may not all have been created.";
    return text;
}

bool gui_finish_page::page_init()
{
    tk_write_log(2, "gui_finish_page::page_init");
    wizard_shell& sh = shell();
    sh.enable_button(wizard_shell::id_cancel, false);
    sh.enable_button(wizard_shell::id_help, false);

    std::vector<std::string> errors;
    if (error_handler* h = error_handler::try_instance())
        errors = h->get_error_list();
    std::wstring left_out;
    std::wstring ended_early;
    if (pelmora_convertor* c = pelmora_convertor::try_instance()) {
        left_out = failure_summary(c->failures);
        // A run that did not reach its end left out more than its counted
        // failures: the tables after it, its foreign keys and views.
        const conversion_outcome outcome = c->outcome();
        if (outcome == conversion_outcome::aborted || outcome == conversion_outcome::failed) {
            ended_run run;
            run.aborted = outcome == conversion_outcome::aborted;
            run.live = c->b_direct;
            run.table = c->get_current_table();
            run.items_total = c->get_items_total();
            run.items_done = c->get_items_done();
            ended_early = ended_early_text(run);
        }
    }
    // The trace log the user asked for is incomplete (a disk that filled up).
    if (const tk_logger* logger = tk_logger::try_instance(); logger && logger->is_enabled()) {
        const std::string failure = logger->get_write_error();
        if (!failure.empty())
            errors.push_back("The log file cannot be written: " + failure);
    }
    ctrl_as<QLabel>(1313)->setText(ended_early.empty() ? QStringLiteral("Conversion is Completed")
                                                       : QStringLiteral("Conversion is not Completed"));

    auto* text = ctrl_as<QLabel>(1314);
    auto* list = ctrl_as<QPlainTextEdit>(1016);
    if (errors.empty() && left_out.empty() && ended_early.empty()) {
        tk_write_log(2, "Display success-message");
        const pelmora_convertor* c = pelmora_convertor::try_instance();
        const bool script = c && !c->b_direct && !m_script_success_text.empty();
        text->setText(QString::fromStdWString(script ? m_script_success_text : m_success_text));
        list->hide();
        return true;
    }
    tk_write_log(2, "Display errors");
    text->setText(QString::fromStdWString(m_error_text));
    QString all;
    if (!ended_early.empty())
        all += QString::fromStdWString(ended_early) + QStringLiteral("\n\n");
    if (!left_out.empty())
        all += QString::fromStdWString(left_out) + QStringLiteral("\n\n");
    for (std::string e : errors) {
        std::replace(e.begin(), e.end(), '\n', ' ');
        all += QString::fromStdWString(tk_ansi_to_unicode(e)) + QStringLiteral("\n\n");
    }
    list->setPlainText(all);
    list->setReadOnly(true);
    list->show();
    return true;
}

bool gui_finish_page::on_cancel()
{
    tk_write_log(2, "gui_finish_page::on_cancel");
    shell().accept();
    return false;
}

void gui_finish_page::on_store()
{
    const std::wstring filter = L"Profile Files|*." + m_extension + L"|All Files|*|";
    tk_write_wlog(1, L"gui_finish_page_t::on_store(%s)", filter.c_str());
    if (m_extension.size() < 3 || m_extension.size() > 4)
        throw tk_mail_assertion("..\\GUI2/g_finish", 141);
    save_file_dialog dlg(this, filter, L"Select Profile", L"", m_extension);
    if (!dlg.show())
        return;
    pelmora_convertor* c = pelmora_convertor::try_instance();
    // A profile that was not written must not pass for saved.
    if (c && !c->store_profile_file(dlg.file_name()))
        wizard_shell::error(L"The settings could not be saved to '" + dlg.file_name() + L"'.");
}
