// The progress page running real conversions against the test servers: the
// log, the label and the bar while it runs, the turn to the finish page, the
// Continue/Abort question of a failing row, and Cancel during a large table.
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>

#include <QLocale>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "GUI2/finish_page.h"
#include "TK/tk_log.h"
#include "driver/driver_test_support.h"
#include "pg_target/pgs_mutator.h"
#include "pmr_shel/progress_page.h"
#include "pmr_shel/wizard_pages.h"
#include "wizard_test_support.h"

using namespace wizard_test;

namespace {

class progress_run : public wizard_fixture {
protected:
    void SetUp() override
    {
        wizard_fixture::SetUp();
        pelmora_convertor& c = convertor();
        connect_test_servers(c);
        c.b_direct = true;
        c.get_pgs_engine().fast_insert = true;

        source_name = test_env::unique_name("qprog_src");
        dest_name = test_env::unique_name("qprog_dst");
        admin_ = create_test_source(source_name);
        c.set_source(tk_utf8_to_unicode(source_name));
        c.set_destination(tk_utf8_to_unicode(dest_name));

        progress = add_page(std::make_unique<progress_page>());
        finish = add_page(std::make_unique<gui_finish_page>(finish_page_info, L"All done.", L"Something failed.",
                                                            profile_extension));
    }

    void TearDown() override
    {
        close_wizard();
        wizard_fixture::TearDown();
        drop_test_databases(admin_, source_name, dest_name);
    }

    void source(const std::string& sql) { mysql_exec(admin_, sql); }
    long long dest_count(const std::string& table)
    {
        pqxx::connection c(test_env::pg_conninfo(dest_name));
        pqxx::nontransaction tx(c);
        return tx.exec("SELECT count(*) FROM " + table)[0][0].as<long long>();
    }
    bool dest_has_table(const std::string& table)
    {
        pqxx::connection c(test_env::pg_conninfo(dest_name));
        pqxx::nontransaction tx(c);
        return !tx.exec("SELECT 1 FROM pg_tables WHERE tablename = " + tx.quote(table)).empty();
    }
    bool on_finish_page() { return current() && current()->idd() == 116; }
    QString log_text() { return progress->ctrl_as<QPlainTextEdit>(1016)->toPlainText(); }

    std::string source_name, dest_name;
    progress_page* progress = nullptr;
    gui_finish_page* finish = nullptr;

private:
    MYSQL* admin_ = nullptr;
};

TEST_F(progress_run, a_run_shows_its_lines_label_and_bar_and_ends_on_the_finish_page)
{
    source("CREATE TABLE small (id INT PRIMARY KEY, name VARCHAR(20));"
           "INSERT INTO small VALUES (1,'one'),(2,'two');"
           "CREATE TABLE big (id INT PRIMARY KEY, filler VARCHAR(200));"
           "INSERT INTO big SELECT seq, REPEAT('x', 200) FROM seq_1_to_150000");
    convertor().selected_tables = {L"small", L"big"};

    QStringList labels;
    int max_bar = 0;
    bool pictured = false;
    show_wizard();
    ASSERT_EQ(current(), progress);
    EXPECT_FALSE(shell().button(QWizard::BackButton)->isEnabled());
    EXPECT_FALSE(shell().button(QWizard::NextButton)->isEnabled());
    EXPECT_TRUE(shell().button(QWizard::CancelButton)->isEnabled());
    ASSERT_TRUE(wait_until(
        [&] {
            const QString label = progress->ctrl_as<QLabel>(1323)->text();
            if (!label.isEmpty() && !labels.contains(label))
                labels << label;
            max_bar = std::max(max_bar, progress->ctrl_as<QProgressBar>(1321)->value());
            if (!pictured && max_bar > 10) {
                save_picture(&shell(), QStringLiteral("page_107_progress"));
                pictured = true;
            }
            return on_finish_page();
        },
        120000));
    EXPECT_TRUE(labels.contains(QStringLiteral("Processing table 'big'"))) << labels.join(',').toStdString();
    EXPECT_GT(max_bar, 0);
    EXPECT_LE(max_bar, 100);
    EXPECT_TRUE(log_text().contains(QStringLiteral("small"))) << log_text().toStdString();
    EXPECT_TRUE(log_text().contains(QStringLiteral("big"))) << log_text().toStdString();
    EXPECT_FALSE(shell().is_timer_running());
    EXPECT_EQ(dest_count("big"), 150000);

    // The finish page: success, Finish only, no Cancel or Help.
    EXPECT_EQ(finish->ctrl_as<QLabel>(1314)->text(), QStringLiteral("All done."));
    EXPECT_FALSE(finish->ctrl(1016)->isVisible());
    EXPECT_TRUE(shell().button(QWizard::FinishButton)->isEnabled());
    EXPECT_FALSE(shell().button(QWizard::CancelButton)->isEnabled());
    EXPECT_FALSE(shell().button(QWizard::BackButton)->isEnabled());
    save_picture(&shell(), QStringLiteral("page_116_success"));
    shell().button(QWizard::FinishButton)->click();
    EXPECT_EQ(shell().result(), QDialog::Accepted);
}

// A row that does not fit its mapped type is a level-0 report: Continue goes
// on with the next rows and tables, Abort ends the run at once.
class progress_question : public progress_run, public ::testing::WithParamInterface<bool> {};

TEST_P(progress_question, a_failing_row_asks_continue_or_abort)
{
    const bool abort = GetParam();
    source("CREATE TABLE parts (id INT PRIMARY KEY, code BIGINT);"
           "INSERT INTO parts VALUES (1,10),(2,5000000000),(3,30);"
           "CREATE TABLE later (id INT PRIMARY KEY);"
           "INSERT INTO later VALUES (1),(2)");
    convertor().selected_tables = {L"parts", L"later"};
    pgs_native_type integer;
    integer.type = L"INTEGER";
    convertor().get_table_mutator2(L"parts", L"parts")->update_field(L"code", L"code", integer);

    modal_answerer answers;
    answers.push([&](QWidget* w) {
        save_picture(w, QStringLiteral("dlg_115"));
        w->findChild<QAbstractButton*>(abort ? QStringLiteral("ctl_1") : QStringLiteral("ctl_2"))->click();
    });
    show_wizard();
    ASSERT_TRUE(wait_until([&] { return on_finish_page(); }, 60000));
    ASSERT_EQ(answers.seen().size(), 1u);
    EXPECT_EQ(answers.seen()[0].object_name, QStringLiteral("dlg_115"));
    EXPECT_EQ(answers.seen()[0].caption, QStringLiteral("Tessalane Test Error"));
    EXPECT_TRUE(answers.seen()[0].text.startsWith(QStringLiteral("parts, record #2: ")))
        << answers.seen()[0].text.toStdString();

    if (abort) {
        EXPECT_EQ(convertor().outcome(), conversion_outcome::aborted);
        EXPECT_FALSE(dest_has_table("later"));
        // Not "completed" with one row missing: the page says what the abort left out.
        EXPECT_EQ(finish->ctrl_as<QLabel>(1313)->text(), QStringLiteral("Conversion is not Completed"));
        EXPECT_TRUE(finish->ctrl_as<QPlainTextEdit>(1016)->toPlainText().startsWith(
            QStringLiteral("The conversion was aborted. Table 'parts' was not completed. 1 more table was not "
                           "converted. Foreign keys and views were not created.\n\n")))
            << finish->ctrl_as<QPlainTextEdit>(1016)->toPlainText().toStdString();
        save_picture(&shell(), QStringLiteral("page_116_aborted"));
    } else {
        EXPECT_EQ(finish->ctrl_as<QLabel>(1313)->text(), QStringLiteral("Conversion is Completed"));
        EXPECT_EQ(convertor().outcome(), conversion_outcome::completed);
        EXPECT_EQ(dest_count("parts"), 2);
        EXPECT_EQ(dest_count("later"), 2);
    }
    // The finish page lists the report, each error followed by an empty line.
    EXPECT_EQ(finish->ctrl_as<QLabel>(1314)->text(), QStringLiteral("Something failed."));
    auto* list = finish->ctrl_as<QPlainTextEdit>(1016);
    EXPECT_TRUE(list->isVisible());
    EXPECT_TRUE(list->isReadOnly());
    EXPECT_TRUE(list->toPlainText().contains(QStringLiteral("parts, record #2: ")));
    EXPECT_TRUE(list->toPlainText().endsWith(QStringLiteral("\n\n")));
    if (!abort)
        save_picture(&shell(), QStringLiteral("page_116_errors"));
}

INSTANTIATE_TEST_SUITE_P(answers, progress_question, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "abort" : "continue"; });

// A view refused after the last table: the label no longer names that table
// while the run asks, and the finish page counts the view.
TEST_F(progress_run, a_view_refused_after_the_tables_is_asked_under_the_finishing_label_and_counted)
{
    source("CREATE TABLE base (id INT PRIMARY KEY); INSERT INTO base VALUES (1), (2);"
           "CREATE VIEW v_ok AS SELECT id FROM base;"
           "CREATE VIEW v_bad AS SELECT id, 0x41 AS b FROM base");
    convertor().selected_tables = {L"base"};
    convertor().selected_views = {{L"v_ok", L""}, {L"v_bad", L""}};
    QString label_while_asked;
    modal_answerer answers;
    answers.push([&](QWidget* w) {
        wait_until([&] { return progress->ctrl_as<QLabel>(1323)->text() == progress_page::finishing_label; }, 5000);
        label_while_asked = progress->ctrl_as<QLabel>(1323)->text();
        save_picture(&shell(), QStringLiteral("page_107_view_refused"));
        w->findChild<QAbstractButton*>(QStringLiteral("ctl_2"))->click();
    });
    show_wizard();
    ASSERT_TRUE(wait_until([&] { return on_finish_page(); }, 60000));
    ASSERT_EQ(answers.seen().size(), 1u);
    EXPECT_TRUE(answers.seen()[0].text.startsWith(QStringLiteral("View 'v_bad': "))) << answers.seen()[0].text.toStdString();
    EXPECT_EQ(label_while_asked, QString::fromLatin1(progress_page::finishing_label));
    EXPECT_EQ(convertor().outcome(), conversion_outcome::completed);
    EXPECT_EQ(dest_count("v_ok"), 2);
    EXPECT_TRUE(finish->ctrl_as<QPlainTextEdit>(1016)->toPlainText().startsWith(
        QStringLiteral("Not converted: 1 view.\n\nView 'v_bad': ")))
        << finish->ctrl_as<QPlainTextEdit>(1016)->toPlainText().toStdString();
}

// The log file the user asked for could not be written (a full disk): the
// finish page says so instead of reporting success.
TEST_F(progress_run, a_log_file_that_could_not_be_written_is_not_passed_off_as_success)
{
    source("CREATE TABLE small (id INT PRIMARY KEY); INSERT INTO small VALUES (1)");
    convertor().selected_tables = {L"small"};
    tk_logger logger(nullptr, false, 3, false);
    convertor().set_logfile("/dev/full");
    show_wizard();
    ASSERT_TRUE(wait_until([&] { return on_finish_page(); }, 60000));
    EXPECT_EQ(convertor().outcome(), conversion_outcome::completed);
    EXPECT_EQ(dest_count("small"), 1);
    EXPECT_EQ(finish->ctrl_as<QLabel>(1314)->text(), QStringLiteral("Something failed."));
    EXPECT_TRUE(finish->ctrl_as<QPlainTextEdit>(1016)->toPlainText().startsWith(
        QStringLiteral("The log file cannot be written: '/dev/full': ")))
        << finish->ctrl_as<QPlainTextEdit>(1016)->toPlainText().toStdString();
    close_wizard();
}

TEST_F(progress_run, cancel_during_a_large_table_stops_the_run_cleanly_and_says_what_was_kept)
{
    source("CREATE TABLE huge (id INT PRIMARY KEY, filler VARCHAR(250));"
           "INSERT INTO huge SELECT seq, REPEAT('y', 250) FROM seq_1_to_600000;"
           "CREATE TABLE after_it (id INT PRIMARY KEY)");
    convertor().selected_tables = {L"huge", L"after_it"};
    show_wizard();
    ASSERT_TRUE(wait_until([&] { return convertor().get_records_done() > 2000; }, 60000));

    modal_answerer answers;
    QString stopping_label;
    answers.push([&](QWidget* w) {
        qobject_cast<QMessageBox*>(w)->button(QMessageBox::Yes)->click();
        // Shown while the run winds down.
        QTimer::singleShot(0, [&] { stopping_label = progress->ctrl_as<QLabel>(1323)->text(); });
    });
    answers.push(QMessageBox::Ok);
    shell().reject();
    ASSERT_EQ(answers.seen().size(), 2u);
    EXPECT_EQ(answers.seen()[0].text, QStringLiteral("Are you sure you want to exit the wizard?"));
    EXPECT_TRUE(stopping_label.startsWith(QStringLiteral("Stopping the conversion"))) << stopping_label.toStdString();
    EXPECT_TRUE(log_text().contains(QStringLiteral("Stopping the conversion"))) << log_text().toStdString();
    EXPECT_FALSE(shell().isVisible());
    EXPECT_EQ(shell().result(), QDialog::Rejected);
    EXPECT_FALSE(progress->is_running());
    EXPECT_EQ(convertor().outcome(), conversion_outcome::stopped);
    EXPECT_TRUE(convertor().is_finished());
    EXPECT_FALSE(shell().is_timer_running());
    const long long kept = dest_count("huge");
    EXPECT_LT(kept, 600000);
    EXPECT_FALSE(dest_has_table("after_it"));

    // One box says what was kept, what is missing and how to complete it.
    const QString report = answers.seen()[1].text;
    EXPECT_TRUE(report.contains(QStringLiteral("Table 'huge': %1 of its 600,000 rows were committed.")
                                    .arg(QLocale(QLocale::English).toString(kept))))
        << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("1 more table was not converted."))) << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("'Merge'"))) << report.toStdString();

    // Nothing of the run is left open on the server.
    pqxx::connection c(test_env::pg_conninfo("postgres"));
    pqxx::nontransaction tx(c);
    const auto open = tx.exec("SELECT count(*) FROM pg_stat_activity WHERE datname = " + tx.quote(dest_name) +
                              " AND (state LIKE 'idle in transaction%' OR xact_start IS NOT NULL)");
    EXPECT_EQ(open[0][0].as<int>(), 0);
    close_wizard();
}

TEST_F(progress_run, a_cancelled_script_run_keeps_the_earlier_script)
{
    source("CREATE TABLE huge (id INT PRIMARY KEY, filler VARCHAR(250));"
           "INSERT INTO huge SELECT seq, REPEAT('y', 250) FROM seq_1_to_600000");
    convertor().selected_tables = {L"huge"};
    convertor().b_direct = false;
    const std::string folder = config_folder() + "/scripts";
    std::filesystem::create_directories(folder);
    const std::string script = folder + "/shop.sql";
    std::ofstream(script, std::ios::binary) << "-- the earlier script\n";
    convertor().set_destination(tk_utf8_to_unicode(script));
    show_wizard();
    ASSERT_TRUE(wait_until([&] { return convertor().get_records_done() > 2000; }, 60000));

    modal_answerer answers;
    answers.push(QMessageBox::Yes);
    answers.push(QMessageBox::Ok);
    shell().reject();
    ASSERT_EQ(answers.seen().size(), 2u);
    EXPECT_EQ(convertor().outcome(), conversion_outcome::stopped);
    EXPECT_TRUE(answers.seen()[1].text.contains(QStringLiteral("The script file was not written")))
        << answers.seen()[1].text.toStdString();
    std::ifstream in(script, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "-- the earlier script\n");
    // Nothing unfinished is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()), 1);
    close_wizard();
}

// The run goes on while "Are you sure?" is open: when it ends meanwhile,
// Yes cancels nothing; the user is told and sees the finish page.
TEST_F(progress_run, a_run_that_ends_while_cancel_asks_is_reported_as_finished)
{
    source("CREATE TABLE huge (id INT PRIMARY KEY, filler VARCHAR(250));"
           "INSERT INTO huge SELECT seq, REPEAT('y', 250) FROM seq_1_to_300000");
    convertor().selected_tables = {L"huge"};
    show_wizard();
    ASSERT_TRUE(wait_until([&] { return convertor().get_records_done() > 2000; }, 60000));
    ASSERT_EQ(current(), progress);

    modal_answerer answers;
    answers.push([&](QWidget* w) {
        ASSERT_TRUE(wait_until([&] { return convertor().is_finished(); }, 120000));
        qobject_cast<QMessageBox*>(w)->button(QMessageBox::Yes)->click();
    });
    answers.push(QMessageBox::Ok);
    shell().reject();
    ASSERT_EQ(answers.seen().size(), 2u);
    EXPECT_TRUE(answers.seen()[1].text.startsWith(QStringLiteral("The conversion finished before it could be cancelled")))
        << answers.seen()[1].text.toStdString();
    EXPECT_TRUE(shell().isVisible());
    EXPECT_TRUE(wait_until([&] { return on_finish_page(); }));
    EXPECT_EQ(convertor().outcome(), conversion_outcome::completed);
    EXPECT_EQ(dest_count("huge"), 300000);
    shell().button(QWizard::FinishButton)->click();
    EXPECT_EQ(shell().result(), QDialog::Accepted);
}

TEST(progress_stop_report, says_what_was_kept_and_what_is_missing)
{
    progress_page::stopped_run live;
    live.table = L"orders";
    live.rows_kept = 2959360;
    live.rows_total = 4000000;
    live.items_total = 3;
    live.items_done = 1;
    const std::wstring text = progress_page::stop_report(live);
    EXPECT_NE(text.find(L"Table 'orders': 2,959,360 of its 4,000,000 rows were committed.\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"2 more tables were not converted."), std::wstring::npos);
    EXPECT_NE(text.find(L"'Merge'"), std::wstring::npos);

    progress_page::stopped_run before_any;  // stopped before the first table
    before_any.items_total = 2;
    const std::wstring none = progress_page::stop_report(before_any);
    EXPECT_EQ(none.find(L"Table '"), std::wstring::npos);
    EXPECT_NE(none.find(L"2 more tables were not converted."), std::wstring::npos);
}

TEST(finish_ended_early, says_what_a_run_that_did_not_reach_its_end_left_out)
{
    struct ended_case {
        gui_finish_page::ended_run run;
        const wchar_t* expected;
    };
    const ended_case cases[] = {
        {{true, true, L"orders", 4, 1},
         L"The conversion was aborted. Table 'orders' was not completed. 2 more tables were not converted. "
         L"Foreign keys and views were not created."},
        // Before the plan was made (or a run of views only).
        {{false, true, L"", 0, 0},
         L"The conversion ended early because of an error. Foreign keys and views may not all have been created."},
        // Every table handled: Abort came in a foreign key's or a view's report.
        {{true, true, L"last", 2, 2}, L"The conversion was aborted. Foreign keys and views may not all have been created."},
        {{true, false, L"orders", 3, 0},
         L"The conversion was aborted. The script file was not written: an earlier script of that name was left as it was."},
    };
    for (const ended_case& c : cases)
        EXPECT_EQ(gui_finish_page::ended_early_text(c.run), c.expected);
}

TEST(progress_bar, position_is_the_items_share_plus_the_current_items_rows)
{
    struct bar_case {
        std::uint32_t total, done;
        std::uint64_t count, rows;
        int expected;
    };
    const bar_case cases[] = {
        {0, 0, 0, 0, 0},          // nothing to do yet
        {4, 1, 2000, 500, 31},    // 25 + 25/4
        {4, 1, 0, 0, 25},         // no row count: items only
        {1, 0, 10, 10, 100},      // the last rows of the only item
        {3, 3, 0, 0, 100},        // all done
        {2, 5, 10, 10, 100},      // counters caught mid-update stay within the bar
        {1, 0, 10, 50, 100},
    };
    for (const bar_case& c : cases)
        EXPECT_EQ(progress_page::bar_position(c.total, c.done, c.count, c.rows), c.expected)
            << c.total << " " << c.done << " " << c.count << " " << c.rows;
}

TEST(progress_label, names_the_table_and_cuts_long_names)
{
    EXPECT_EQ(progress_page::table_label(L""), QString());
    EXPECT_EQ(progress_page::table_label(L"orders"), QStringLiteral("Processing table 'orders'"));
    const QString longer = progress_page::table_label(std::wstring(400, L'n'));
    EXPECT_LT(longer.size(), 256);
}

}  // namespace
