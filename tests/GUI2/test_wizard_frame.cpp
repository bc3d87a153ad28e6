// The frame's own services: boxes and their captions, the progress log box,
// help, the file dialogs' extension rule, the error dialogs, the finish page
// and the page template's control operations.
#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBrowser>
#include <QTest>
#include <QUrl>

#include <QFileInfo>

#include <fstream>
#include <iterator>
#include <thread>

#include "GUI2/error_dialogs.h"
#include "GUI2/file_dialogs.h"
#include "GUI2/finish_page.h"
#include "GUI2/help_window.h"
#include "TK/tk_desktop.h"
#include "pmr_shel/wizard_test_support.h"

using namespace wizard_test;

namespace {

constexpr wizard_page_info plain_info{500, 3, page_has_help, L"Step", L"A page", 1017};
constexpr wizard_page_info finish_info{116, 4, page_hide_header, nullptr, nullptr, help_none};

// A page with a log box and a check box.
class box_page : public wizard_page {
public:
    explicit box_page(const wizard_page_info& info = plain_info) : wizard_page(info)
    {
        auto* log = new QPlainTextEdit(this);
        log->setObjectName(QStringLiteral("ctl_1016"));
        auto* check = new QCheckBox(QStringLiteral("switch"), this);
        check->setObjectName(QStringLiteral("ctl_1200"));
        check->setTristate(true);
    }
};

// Records the URLs the desktop is asked to open.
class url_recorder : public QObject {
    Q_OBJECT
public:
    url_recorder()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("mailto"), this, "open");
    }
    ~url_recorder() override
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
    }
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

using wizard_frame = wizard_fixture;

TEST_F(wizard_frame, boxes_before_the_window_exists_have_plain_captions_and_no_owner)
{
    modal_answerer answers;
    answers.push(QMessageBox::Ok);
    wizard_shell::error(L"100% wrong");
    ASSERT_EQ(answers.seen().size(), 1u);
    EXPECT_EQ(answers.seen()[0].caption, QStringLiteral("Error"));
    EXPECT_EQ(answers.seen()[0].text, QStringLiteral("100% wrong"));
    EXPECT_FALSE(answers.seen()[0].had_owner);

    add_page(std::make_unique<box_page>());
    show_wizard();
    answers.push(QMessageBox::Ok);
    wizard_shell::message(L"done");
    ASSERT_EQ(answers.seen().size(), 2u);
    EXPECT_EQ(answers.seen()[1].caption, QStringLiteral("Tessalane Test Message"));
    EXPECT_TRUE(answers.seen()[1].had_owner);
}

TEST_F(wizard_frame, progress_lines_go_to_the_current_pages_log_box_from_any_thread)
{
    auto* page = add_page(std::make_unique<box_page>());
    shell().write_log(L"before any page\r\n");  // nothing is current yet: dropped
    show_wizard();
    shell().write_log(L"first\r\n");
    std::thread worker([&] { shell().write_log(L"second\r\n"); });
    ASSERT_TRUE(wait_until([&] { return page->ctrl_as<QPlainTextEdit>(1016)->toPlainText().contains("second"); }));
    worker.join();
    EXPECT_EQ(page->ctrl_as<QPlainTextEdit>(1016)->toPlainText(), QStringLiteral("first\nsecond\n"));
}

TEST_F(wizard_frame, the_timer_reaches_the_current_page_and_cannot_be_started_twice)
{
    struct ticking : box_page {
        int ticks = 0;
        void on_timer() override { ++ticks; }
    };
    auto* page = add_page(std::make_unique<ticking>());
    show_wizard();
    shell().set_timer(20);
    EXPECT_THROW(shell().set_timer(20), tk_mail_assertion);
    ASSERT_TRUE(wait_until([&] { return page->ticks >= 2; }));
    shell().kill_timer();
    EXPECT_FALSE(shell().is_timer_running());
}

// Help is shown inside the program, without a web browser or a launcher: a
// page per topic, a section of a page, links between the pages.
TEST_F(wizard_frame, help_opens_the_topics_page_in_the_program_or_says_the_help_is_missing)
{
    test_env::scratch_dir help("help");
    std::ofstream(help.path() + "/index.html") << "<title>Contents</title><p>index <a href=\"mysql_settings.html\">mysql</a></p>";
    std::ofstream(help.path() + "/mysql_settings.html")
        << "<title>MySQL settings</title><p><a href=\"index.html\">All help topics</a></p>";
    std::string long_page = "<title>Databases</title>";
    for (int i = 0; i < 200; ++i)
        long_page += "<p>line " + std::to_string(i) + "</p>";
    std::ofstream(help.path() + "/databases.html") << long_page << "<h2 id=\"overwrite\">x</h2><p>end</p>";
    wizard_shell::set_help_folder(QString::fromStdString(help.path()).toStdWString());
    url_recorder recorder;  // the desktop must not be asked
    add_page(std::make_unique<box_page>());
    show_wizard();

    auto shown = [] {
        help_window* w = help_window::current();
        return w && w->isVisible() ? w->browser()->source() : QUrl();
    };
    QTest::keyClick(&shell(), Qt::Key_F1);  // the page's topic
    ASSERT_TRUE(wait_until([&] { return shown().isValid(); }));
    EXPECT_TRUE(shown().toLocalFile().endsWith("/mysql_settings.html")) << shown().toString().toStdString();
    EXPECT_EQ(help_window::current()->windowTitle(), QStringLiteral("MySQL settings - Help"));
    save_picture(help_window::current(), QStringLiteral("help_window"));

    // A link to another page is followed in the same window.
    QTextBrowser* browser = help_window::current()->browser();
    browser->setFocus();
    QTest::keyClick(browser, Qt::Key_Tab);
    QTest::keyClick(browser, Qt::Key_Return);
    ASSERT_TRUE(wait_until([&] { return shown().toLocalFile().endsWith("/index.html"); }));
    help_window::current()->findChild<QAbstractButton*>(QStringLiteral("help_back"))->click();
    EXPECT_TRUE(shown().toLocalFile().endsWith("/mysql_settings.html"));

    shell().display_help(1023);  // a topic without a page of its own: the index
    EXPECT_TRUE(shown().toLocalFile().endsWith("/index.html"));
    shell().display_help(1012);  // a section of a page: shown scrolled to it
    EXPECT_TRUE(shown().toLocalFile().endsWith("/databases.html"));
    EXPECT_EQ(shown().fragment(), QStringLiteral("overwrite"));
    pump(30);
    EXPECT_GT(browser->verticalScrollBar()->value(), 0);
    EXPECT_TRUE(recorder.urls.isEmpty());

    help_window::current()->close();
    wizard_shell::set_help_folder(L"/nonexistent/help");
    modal_answerer answers;
    answers.push(QMessageBox::Ok);
    shell().button(QWizard::HelpButton)->click();
    wizard_shell::set_help_folder(L"");
    ASSERT_EQ(answers.seen().size(), 1u);
    EXPECT_EQ(answers.seen()[0].text, QStringLiteral("Help file does not exist. Reinstall the program."));
    EXPECT_EQ(answers.seen()[0].caption, QStringLiteral("Tessalane Test Error"));
}

TEST_F(wizard_frame, the_help_pages_are_copied_beside_the_program)
{
    const QString folder = program_folder() + QStringLiteral("/help/");
    EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("index.html"))) << folder.toStdString();
}

TEST_F(wizard_frame, invert_chbox_toggles_and_checks_a_partly_checked_box)
{
    auto* page = add_page(std::make_unique<box_page>());
    auto* box = page->ctrl_as<QCheckBox>(1200);
    page->invert_chbox(1200);
    EXPECT_EQ(box->checkState(), Qt::Checked);
    page->invert_chbox(1200);
    EXPECT_EQ(box->checkState(), Qt::Unchecked);
    box->setCheckState(Qt::PartiallyChecked);
    page->invert_chbox(1200);
    EXPECT_EQ(box->checkState(), Qt::Checked);
    EXPECT_THROW(page->invert_chbox(1016), tk_mail_assertion);  // not a check box
}

TEST_F(wizard_frame, the_finish_page_lists_only_errors_reported_while_the_window_exists)
{
    // Reported before the wizard's window exists (a quick launch that
    // failed, say): shown, but not listed.
    modal_answerer answers;
    answers.push(QMessageBox::Ok);
    handler().handle(tk_exception("before the window", 1), false);
    auto* finish = add_page(std::make_unique<gui_finish_page>(finish_info, L"Fine.", L"Failed.", L"pmr"));
    show_wizard();
    EXPECT_EQ(finish->ctrl_as<QLabel>(1314)->text(), QStringLiteral("Fine."));
    EXPECT_FALSE(finish->ctrl(1016)->isVisible());
    EXPECT_FALSE(shell().button(QWizard::CancelButton)->isEnabled());
    EXPECT_FALSE(shell().button(QWizard::HelpButton)->isVisible() && shell().button(QWizard::HelpButton)->isEnabled());
    save_picture(&shell(), QStringLiteral("page_116_finish"));
}

TEST_F(wizard_frame, the_finish_page_lists_errors_each_followed_by_an_empty_line_and_what_was_left_out)
{
    auto* finish = add_page(std::make_unique<gui_finish_page>(finish_info, L"Fine.", L"Failed.", L"pmr"));
    show_wizard();
    handler().set_suppressed(true);  // listed without a box
    handler().handle(tk_exception("first\nproblem", 1), false);
    handler().handle(tk_exception("second", 0), false);
    convertor().failures.rows = 3;
    convertor().failures.tables = 1;
    finish->page_init();
    EXPECT_EQ(finish->ctrl_as<QLabel>(1314)->text(), QStringLiteral("Failed."));
    auto* list = finish->ctrl_as<QPlainTextEdit>(1016);
    EXPECT_TRUE(list->isVisible());
    EXPECT_TRUE(list->isReadOnly());
    EXPECT_EQ(list->toPlainText(),
              QStringLiteral("Not converted: 1 table, 3 rows.\n\nfirst problem\n\nsecond\n\n"));
}

TEST(finish_page_summary, names_each_kind_that_was_left_out)
{
    conversion_failures f;
    EXPECT_EQ(gui_finish_page::failure_summary(f), L"");
    f.indexes = 2;
    f.views = 1;
    EXPECT_EQ(gui_finish_page::failure_summary(f), L"Not converted: 2 indexes, 1 view.");
    f.sequences = 1;
    f.columns = 2;
    f.keyless_merges = 1;
    EXPECT_EQ(gui_finish_page::failure_summary(f),
              L"Not converted: 2 indexes, 1 view, 1 sequence, 2 column defaults or properties, "
              L"1 merge that matched no key (rows appended).");
}

TEST(save_file_dialog_rule, the_default_extension_is_added_only_when_absent)
{
    struct name_case {
        const wchar_t* typed;
        const wchar_t* kept;
    };
    const name_case cases[] = {
        {L"settings", L"settings.pmr"},
        {L"a.pmr", L"a.pmr"},
        {L"a.pmr.old", L"a.pmr.old"},  // the extension occurs in it
        {L"/tmp/x.txt", L"/tmp/x.txt.pmr"},
        {L"/tmp/old.pmr.d/settings", L"/tmp/old.pmr.d/settings.pmr"},  // in a folder's name only
    };
    for (const name_case& c : cases)
        EXPECT_EQ(save_file_dialog::with_default_extension(c.typed, L".pmr"), c.kept);
    EXPECT_THROW(save_file_dialog(nullptr, L"", L"", L"", L""), tk_mail_assertion);
    EXPECT_EQ(file_dialog::dialog_filter(L"Profile Files (.pmr)|*.pmr|All Files (*.*)|*.*|"),
              L"Profile Files (.pmr) (*.pmr);;All Files (*.*) (*.*)");
}

TEST_F(wizard_frame, cancelling_the_save_dialog_stores_nothing)
{
    auto* finish = add_page(std::make_unique<gui_finish_page>(finish_info, L"Fine.", L"Failed.", L"pmr"));
    show_wizard();
    modal_answerer answers;
    answers.push([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
    finish->ctrl_as<QPushButton>(1116)->click();
    ASSERT_EQ(answers.seen().size(), 1u);
    EXPECT_EQ(answers.seen()[0].caption, QStringLiteral("Select Profile"));
    EXPECT_TRUE(shell().isVisible());
}

// Cancel is disabled on the finish page: Escape and the close box finish
// the wizard as Finish does, without asking.
class finish_page_closing : public wizard_fixture, public ::testing::WithParamInterface<bool> {};

TEST_P(finish_page_closing, escape_and_the_close_box_act_as_finish)
{
    add_page(std::make_unique<gui_finish_page>(finish_info, L"Fine.", L"Failed.", L"pmr"));
    show_wizard();
    modal_answerer answers;
    answers.push(QMessageBox::Yes);  // would answer a question, if one came
    if (GetParam())
        QTest::keyClick(&shell(), Qt::Key_Escape);
    else
        shell().close();
    pump(30);
    EXPECT_TRUE(answers.seen().empty());
    EXPECT_FALSE(shell().isVisible());
    EXPECT_EQ(shell().result(), QDialog::Accepted);
}

INSTANTIATE_TEST_SUITE_P(keys, finish_page_closing, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "escape" : "close_box"; });

// "Save Settings..." over an existing profile asks first; No goes back to
// the dialog and leaves the file as it was.
TEST_F(wizard_frame, saving_a_profile_over_an_existing_file_asks_first)
{
    auto* finish = add_page(std::make_unique<gui_finish_page>(finish_info, L"Fine.", L"Failed.", L"pmr"));
    show_wizard();
    const std::string existing = config_folder() + "/settings.pmr";
    std::ofstream(existing) << "[Generic settings]\nsrc=kept\n";
    auto choose = [](const std::string& typed) {
        return [typed](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            ASSERT_NE(dialog, nullptr);
            // As typed into the name box of the dialog's folder.
            const QFileInfo file(QString::fromStdString(typed));
            dialog->setDirectory(file.absolutePath());
            auto* name_box = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name_box, nullptr);
            name_box->setText(file.fileName());
            static_cast<QDialog*>(dialog)->accept();
        };
    };
    auto text = [&] {
        std::ifstream in(existing, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    convertor().set_source(L"shop");

    // Typed without the extension: still the existing file.
    modal_answerer answers;
    answers.push(choose(config_folder() + "/settings"));
    answers.push(QMessageBox::No);
    answers.push([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });  // the dialog again: cancelled
    finish->ctrl_as<QPushButton>(1116)->click();
    ASSERT_TRUE(answers.all_answered());
    ASSERT_EQ(answers.seen().size(), 3u);
    EXPECT_EQ(answers.seen()[1].object_name, QStringLiteral("box_question"));
    EXPECT_TRUE(answers.seen()[1].text.contains(QString::fromStdString(existing))) << answers.seen()[1].text.toStdString();
    EXPECT_EQ(answers.seen()[2].caption, QStringLiteral("Select Profile"));
    EXPECT_EQ(text(), "[Generic settings]\nsrc=kept\n");

    // The next dialog opens in the folder used last, not the program's.
    EXPECT_EQ(QString::fromStdWString(file_dialog::start_folder()), QFileInfo(QString::fromStdString(existing)).absolutePath());
    answers.push([&](QWidget* w) {
        EXPECT_EQ(qobject_cast<QFileDialog*>(w)->directory().absolutePath(),
                  QFileInfo(QString::fromStdString(existing)).absolutePath());
        choose(existing)(w);
    });
    answers.push(QMessageBox::Yes);
    finish->ctrl_as<QPushButton>(1116)->click();
    ASSERT_TRUE(answers.all_answered());
    EXPECT_NE(text().find("src=shop"), std::string::npos) << text();
}

TEST(error_dialogs, the_internal_error_dialog_copies_mails_or_closes_only_by_its_buttons)
{
    url_recorder recorder;
    install_wizard_desktop_hooks();
    {
        dlg_error_ex dlg(L"broken: 1 < 2");
        modal_answerer answers;
        answers.push([](QWidget* w) {
            QTest::keyClick(w, Qt::Key_Escape);  // ignored
            save_picture(w, QStringLiteral("dlg_114"));
            w->findChild<QAbstractButton*>(QStringLiteral("ctl_1108"))->click();
        });
        EXPECT_EQ(dlg.exec(), dlg_error_ex::result_copied);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("broken: 1 < 2"));
        EXPECT_EQ(answers.seen()[0].caption, QStringLiteral("Error"));
    }
    {
        dlg_error_ex dlg(L"broken again");
        modal_answerer answers;
        answers.push(modal_answerer::click(QStringLiteral("ctl_1112")));
        EXPECT_EQ(dlg.exec(), dlg_error_ex::result_bug_sent);
        ASSERT_EQ(recorder.urls.size(), 1);
        EXPECT_EQ(recorder.urls[0].scheme(), QStringLiteral("mailto"));
        EXPECT_TRUE(recorder.urls[0].toString(QUrl::FullyDecoded).contains(QStringLiteral("broken again")));
    }
    tk_set_bug_mail_hook({});
    tk_set_clipboard_hook({});
}

TEST(error_dialogs, the_continue_dialog_answers_and_remembers_its_box)
{
    {
        dlg_error_continue dlg(L"row failed");
        modal_answerer answers;
        answers.push([](QWidget* w) {
            auto* box = w->findChild<QAbstractButton*>(QStringLiteral("ctl_1222"));
            box->click();
            box->click();  // ticked twice: off again
            QTest::keyClick(w, Qt::Key_Escape);
        });
        EXPECT_EQ(dlg.exec(), dlg_error_continue::result_continue);
        EXPECT_FALSE(dlg.do_not_show());
    }
    {
        dlg_error_continue dlg(L"row failed");
        modal_answerer answers;
        answers.push([](QWidget* w) {
            w->findChild<QAbstractButton*>(QStringLiteral("ctl_1222"))->click();
            w->findChild<QAbstractButton*>(QStringLiteral("ctl_1"))->click();
        });
        EXPECT_EQ(dlg.exec(), dlg_error_continue::result_abort);
        EXPECT_TRUE(dlg.do_not_show());
    }
}

}  // namespace

#include "test_wizard_frame.moc"
