#include "pmr_shel/progress_page.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>

#include "GUI2/wizard_shell.h"
#include "TK/tk_exception.h"
#include "TK/tk_log.h"
#include "driver/pelmora_convertor.h"
#include "pmr_shel/wizard_pages.h"

namespace {

// Table names longer than this are cut in the label.
constexpr int label_name_limit = 230;
constexpr int finish_page_idd = 116;

}  // namespace

progress_page::progress_page(QWidget* parent) : wizard_page(progress_page_info, parent), tk_thread(false)
{
    auto* layout = new QVBoxLayout(this);
    auto* line1 = new QLabel(QStringLiteral("Database conversion is in progress. Please wait until wizard completes"),
                             this);
    auto* line2 = new QLabel(QStringLiteral("converting MySQL database into PostgreSQL format."), this);
    line1->setWordWrap(true);
    layout->addWidget(line1);
    layout->addWidget(line2);
    auto* log = new QPlainTextEdit(this);
    log->setObjectName(QStringLiteral("ctl_1016"));
    log->setReadOnly(true);
    log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    log->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    layout->addWidget(log, 1);
    auto* label = new QLabel(this);
    label->setObjectName(QStringLiteral("ctl_1323"));
    label->setTextFormat(Qt::PlainText);
    layout->addWidget(label);
    auto* bar = new QProgressBar(this);
    bar->setObjectName(QStringLiteral("ctl_1321"));
    bar->setRange(0, 100);
    bar->setValue(0);
    layout->addWidget(bar);
}

progress_page::~progress_page()
{
    // The run uses this page's window (its lines) until it ends.
    stop_run();
}

tk_thread_functor* progress_page::create_functor()
{
    return pelmora_convertor::instance();
}

bool progress_page::page_init()
{
    tk_write_log(1, "progress_page::page_init");
    shell().set_wizard_buttons(0);
    auto* log = ctrl_as<QPlainTextEdit>(wizard_shell::log_box_id);
    log->clear();
    log->setReadOnly(true);
    ctrl_as<QProgressBar>(1321)->setValue(0);
    ctrl_as<QLabel>(1323)->clear();
    if (is_running())
        return true;
    cleanup();
    pelmora_convertor* c = pelmora_convertor::instance();
    c->set_finished(false);
    c->reset_stop();
    m_stopping = false;
    start();
    return true;
}

int progress_page::bar_position(std::uint32_t items_total, std::uint32_t items_done, std::uint64_t record_count,
                                std::uint64_t records_done) noexcept
{
    if (items_total == 0)
        return 0;
    std::uint64_t p = static_cast<std::uint64_t>(items_done) * 100 / items_total;
    if (record_count != 0)
        p += records_done * 100 / record_count / items_total;
    return static_cast<int>(std::min<std::uint64_t>(p, 100));
}

QString progress_page::table_label(const std::wstring& current_table)
{
    if (current_table.empty())
        return QString();
    QString name = QString::fromStdWString(current_table);
    if (name.size() > label_name_limit)
        name = name.left(label_name_limit) + QStringLiteral("...");
    return QStringLiteral("Processing table '%1'").arg(name);
}

void progress_page::on_timer()
{
    tk_write_log(1, "progress_page::on_timer");
    pelmora_convertor* c = pelmora_convertor::try_instance();
    if (!c)
        throw tk_mail_assertion("pmr_shel", 748);
    if (m_stopping)
        return;
    ctrl_as<QProgressBar>(1321)->setValue(
        bar_position(c->get_items_total(), c->get_items_done(), c->get_record_count(), c->get_records_done()));
    // After the last table the run builds what waited for the tables; the
    // label no longer names a table it has finished with.
    const bool tables_done = c->get_items_total() > 0 && c->get_items_done() >= c->get_items_total();
    ctrl_as<QLabel>(1323)->setText(tables_done ? QString::fromLatin1(finishing_label)
                                               : table_label(c->get_current_table()));
    if (c->is_finished()) {
        shell().kill_timer();
        shell().turn_to(finish_page_idd);
    }
}

bool progress_page::on_cancel()
{
    pelmora_convertor* c = pelmora_convertor::try_instance();
    const bool running = is_running() && c && !c->is_finished();
    const bool agreed = wizard_page::on_cancel();
    // The run went on while the question was open: when it ended meanwhile,
    // there is nothing left to cancel, and closing now would pass a finished
    // conversion off as a cancelled one.
    if (running && c->is_finished()) {
        if (agreed)
            wizard_shell::message(L"The conversion finished before it could be cancelled: nothing was "
                                  L"cancelled.\nThe last page shows its result.");
        shell().kill_timer();
        shell().turn_to(finish_page_idd);
        return false;
    }
    if (!agreed)
        return false;
    if (!running)
        return true;
    // Stopping waits for the current row, the indexes of the tables already
    // loaded and the files and connections to close: it may take a while.
    ctrl_as<QLabel>(1323)->setText(
        QStringLiteral("Stopping the conversion: finishing the current row and closing files and connections..."));
    shell().write_log(L"Stopping the conversion...\r\n");
    stop_run();
    wizard_shell::message(stop_report(stopped_facts()));
    return true;
}

progress_page::stopped_run progress_page::stopped_facts()
{
    stopped_run s;
    if (pelmora_convertor* c = pelmora_convertor::try_instance()) {
        s.live = c->b_direct;
        s.table = c->get_current_table();
        s.rows_kept = c->get_records_done();
        s.rows_total = c->get_record_count();
        s.items_total = c->get_items_total();
        s.items_done = c->get_items_done();
    }
    return s;
}

std::wstring progress_page::stop_report(const stopped_run& run)
{
    const QLocale numbers(QLocale::English);
    auto count = [&numbers](std::uint64_t n) { return numbers.toString(static_cast<qulonglong>(n)).toStdWString(); };
    std::wstring text = L"The conversion was stopped.\n\n";
    const bool in_table = !run.table.empty() && run.items_done > 0;
    if (in_table) {
        text += L"Table '" + run.table + L"': " + count(run.rows_kept);
        if (run.rows_total >= run.rows_kept && run.rows_total > 0)
            text += L" of its " + count(run.rows_total);
        text += run.live ? L" rows were committed.\n" : L" rows were written.\n";
    }
    const std::uint32_t begun = in_table ? run.items_done : 0;
    const std::uint32_t left = run.items_total > begun ? run.items_total - begun : 0;
    if (left > 0)
        text += (left == 1 ? L"1 more table was" : count(left) + L" more tables were") + std::wstring(L" not converted.\n");
    text += L"Foreign keys and views were not created.\n\n";
    if (run.live)
        text += L"What was committed stays in the destination database. To complete the conversion, run it "
                L"again with the same settings and choose 'Merge' for the existing database: rows already "
                L"there are kept.";
    else
        text += L"The script file was not written: an earlier script of that name was left as it was.";
    return text;
}

void progress_page::stop_run()
{
    if (!is_running())
        return;
    tk_write_log(2, "progress_page::stop_run");
    m_stopping = true;
    wizard_shell* sh = wizard_shell::try_instance();
    if (sh) {
        sh->set_closing(true);
        sh->enable_button(wizard_shell::id_cancel, false);
    }
    request_stop();
    // The run may still send lines or ask a question: the window keeps
    // serving it until the worker has ended.
    while (!wait_for(std::chrono::milliseconds(20))) {
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    join();
    if (sh) {
        sh->kill_timer();
        sh->set_closing(false);
    }
}
