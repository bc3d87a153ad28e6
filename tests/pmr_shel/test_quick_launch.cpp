// The program's entry point: a quick launch with a profile runs the conversion
// at once on the progress page; a profile that does not load touches nothing.
#include <QAbstractButton>
#include <QPlainTextEdit>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <sys/wait.h>

#include "GUI2/welcome_page_base.h"
#include "console/console_test_support.h"
#include "driver/driver_test_support.h"
#include "platform/pf_settings.h"
#include "pmr_shel/pelmora_entry.h"
#include "support/pg_scratch_db.h"
#include "wizard_test_support.h"

using namespace wizard_test;

namespace {

class quick_launch : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = std::getenv("XDG_CONFIG_HOME");
        had_old_ = old != nullptr;
        old_ = old ? old : "";
        setenv("XDG_CONFIG_HOME", config_.path().c_str(), 1);
        auto my = test_env::mysql();
        source_name = test_env::unique_name("qql_src");
        admin_ = mysql_init(nullptr);
        if (!mysql_real_connect(admin_, my.host.c_str(), my.user.c_str(), my.password.c_str(), nullptr, my.port,
                                nullptr, CLIENT_MULTI_STATEMENTS))
            throw std::runtime_error(std::string("MySQL admin: ") + mysql_error(admin_));
        mysql_exec(admin_, "CREATE DATABASE `" + source_name + "`");
        mysql_exec(admin_, "USE `" + source_name + "`");
        mysql_exec(admin_, "CREATE TABLE items (id INT PRIMARY KEY, label VARCHAR(10));"
                           "INSERT INTO items VALUES (1,'a'),(2,'b'),(3,'c')");
    }
    void TearDown() override
    {
        // A SetUp that failed (no test servers) left no connection.
        if (admin_) {
            try {
                mysql_exec(admin_, "DROP DATABASE IF EXISTS `" + source_name + "`");
            } catch (...) {
            }
            mysql_close(admin_);
        }
        if (had_old_)
            setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
    }

    // Both servers' settings, the source and a live destination.
    static void fill(pelmora_convertor& c, const std::string& source, const std::string& dest)
    {
        auto my = test_env::mysql();
        c.store_mysql_settings(my.host, my.user, my.password, std::to_string(my.port));
        auto pg = test_env::pg();
        c.pgs_host = pg.host;
        c.pgs_user = pg.user;
        c.pgs_password = pg.password;
        c.pgs_port = pg.port;
        c.b_direct = true;
        c.set_source(tk_utf8_to_unicode(source));
        c.set_destination(tk_utf8_to_unicode(dest));
    }

    // Source statements (several separated by ';').
    void source(const std::string& sql) { mysql_exec(admin_, sql); }

    static long long count_rows(const std::string& db, const std::string& table)
    {
        pqxx::connection c(test_env::pg_conninfo(db));
        pqxx::nontransaction tx(c);
        return tx.exec("SELECT count(*) FROM " + table)[0][0].as<long long>();
    }
    static bool database_exists(const std::string& db)
    {
        pqxx::connection c(test_env::pg_conninfo("postgres"));
        pqxx::nontransaction tx(c);
        return !tx.exec("SELECT 1 FROM pg_database WHERE datname = " + tx.quote(db)).empty();
    }

    test_env::scratch_dir config_{"quick_config"};
    test_env::scratch_dir files_{"quick_files"};
    std::string source_name;

private:
    std::string old_;
    bool had_old_ = false;
    MYSQL* admin_ = nullptr;
};

TEST_F(quick_launch, a_profile_runs_at_once_on_the_progress_page_and_finishes)
{
    test_env::pg_scratch_db dest("qql_dst");  // exists: mode 0 drops it and converts anew
    const std::string profile = files_.path() + "/run.pmr";
    {
        pelmora_convertor c(convertor_form::console);
        fill(c, source_name, dest.name());
        c.query_list = {{L"items", L""}};  // a profile keeps its tables here
        c.set_mode(0);
        ASSERT_TRUE(c.store_profile_file(tk_utf8_to_unicode(profile)));
    }

    std::vector<int> first_pages;
    std::size_t page_count = 0;
    bool buttons_off_while_running = false;
    std::string finish_errors;
    QTimer finisher;
    finisher.setInterval(20);
    QObject::connect(&finisher, &QTimer::timeout, [&] {
        wizard_shell* sh = wizard_shell::try_instance();
        if (!sh || !sh->current_page())
            return;
        if (first_pages.empty()) {
            first_pages.push_back(sh->current_page()->idd());
            page_count = sh->pages().size();
            buttons_off_while_running = !sh->button(QWizard::BackButton)->isEnabled() &&
                                        !sh->button(QWizard::NextButton)->isEnabled();
        }
        if (sh->current_page()->idd() == 116 && sh->isVisible()) {
            finisher.stop();
            save_picture(sh, QStringLiteral("quick_launch_finish"));
            if (auto* list = sh->current_page()->ctrl_as<QPlainTextEdit>(1016))
                finish_errors = list->toPlainText().toStdString();
            sh->button(QWizard::FinishButton)->click();
        }
    });
    finisher.start();
    const int exit_code = pelmora_main(profile);

    EXPECT_EQ(exit_code, 1);  // Finish
    ASSERT_FALSE(first_pages.empty());
    EXPECT_EQ(first_pages[0], 107);
    EXPECT_EQ(page_count, 2u);  // only the progress and the finish page
    EXPECT_TRUE(buttons_off_while_running);
    EXPECT_EQ(finish_errors, "");
    EXPECT_EQ(count_rows(dest.name(), "items"), 3);
}

// Tables and indexes of a destination's public schema: name, kind and
// persistence ('u' for UNLOGGED), in one text.
std::string catalog_of(const std::string& db)
{
    pqxx::connection c(test_env::pg_conninfo(db));
    pqxx::nontransaction tx(c);
    std::string out;
    for (const auto& row : tx.exec("SELECT c.relname, c.relkind, c.relpersistence FROM pg_class c JOIN pg_namespace n "
                                   "ON n.oid = c.relnamespace WHERE n.nspname = 'public' AND c.relkind IN ('r', 'i') "
                                   "ORDER BY 1"))
        out += row[0].as<std::string>() + " " + row[1].as<std::string>() + " " + row[2].as<std::string>() + "\n";
    return out;
}

// One profile, one result: run through the pages after loading it on the
// welcome page, and by quick launch, it gives the same tables and indexes,
// names in their case and tables UNLOGGED as it says, whatever the
// remembered settings hold.
TEST_F(quick_launch, a_profile_converts_alike_through_the_pages_and_by_quick_launch)
{
    source("CREATE TABLE `MixedCase` (`Id` INT PRIMARY KEY, `Some` INT, KEY `IdxSome` (`Some`));"
           "INSERT INTO `MixedCase` VALUES (1, 10), (2, 20)");
    console_test::pg_destination by_pages("qql_pages"), by_quick("qql_quick");
    {
        // Remembered: names folded, tables logged.
        pelmora_convertor remembered(convertor_form::wizard);
        remembered.b_case_sens = false;
        remembered.get_pgs_engine().unlogged = false;
    }
    auto profile_for = [&](const std::string& dest) {
        const std::string path = files_.path() + "/" + dest + ".pmr";
        pelmora_convertor c(convertor_form::console);
        fill(c, source_name, dest);
        c.query_list = {{L"MixedCase", L""}};
        c.set_mode(0);
        c.get_pgs_engine().is_case_sens = true;
        c.get_pgs_engine().unlogged = true;
        EXPECT_TRUE(c.store_profile_file(tk_utf8_to_unicode(path)));
        return path;
    };
    const std::string pages_profile = profile_for(by_pages.name());
    const std::string quick_profile = profile_for(by_quick.name());

    // Through the pages: load on the welcome page, then Next on every page.
    std::vector<std::string> unexpected;
    std::vector<int> visited;
    QTimer driver;
    driver.setInterval(20);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        wizard_shell* sh = wizard_shell::try_instance();
        if (!sh || !sh->isVisible() || !sh->current_page() || !sh->isEnabled())
            return;
        if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != sh) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            unexpected.push_back(box ? box->text().toStdString() : modal->objectName().toStdString());
            driver.stop();
            modal->close();
            static_cast<QDialog*>(sh)->done(0);
            return;
        }
        wizard_page* page = sh->current_page();
        if (page->idd() == 103 && visited.empty()) {
            visited.push_back(103);
            ASSERT_TRUE(dynamic_cast<welcome_page_t*>(page)->load_profile(tk_utf8_to_unicode(pages_profile)));
            sh->button(QWizard::NextButton)->click();
        } else if (page->idd() == 116) {
            visited.push_back(116);
            driver.stop();
            sh->button(QWizard::FinishButton)->click();
        } else if (page->idd() != 107 && sh->button(QWizard::NextButton)->isEnabled()) {
            visited.push_back(page->idd());
            sh->button(QWizard::NextButton)->click();
        }
    });
    driver.start();
    EXPECT_EQ(pelmora_main(""), 1);
    EXPECT_TRUE(unexpected.empty()) << unexpected.front();
    EXPECT_EQ(visited, (std::vector<int>{103, 123, 134, 106, 110, 127, 116}));

    // By quick launch.
    QTimer finisher;
    finisher.setInterval(20);
    QObject::connect(&finisher, &QTimer::timeout, [&] {
        wizard_shell* sh = wizard_shell::try_instance();
        if (sh && sh->isVisible() && sh->current_page() && sh->current_page()->idd() == 116) {
            finisher.stop();
            sh->button(QWizard::FinishButton)->click();
        }
    });
    finisher.start();
    EXPECT_EQ(pelmora_main(quick_profile), 1);

    const std::string pages_catalog = catalog_of(by_pages.name());
    EXPECT_NE(pages_catalog.find("MixedCase r u\n"), std::string::npos) << pages_catalog;
    EXPECT_NE(pages_catalog.find("IdxSome"), std::string::npos) << pages_catalog;
    EXPECT_EQ(catalog_of(by_quick.name()), pages_catalog);
}

// A profile that is missing, or that is not a profile at all.
class bad_profile : public quick_launch, public ::testing::WithParamInterface<const char*> {};

TEST_P(bad_profile, connects_drops_and_deletes_nothing)
{
    // The remembered settings name a live destination that exists; a quick
    // launch in mode 0 with them would drop it.
    test_env::pg_scratch_db dest("qql_keep");
    {
        pelmora_convertor c(convertor_form::wizard);
        fill(c, source_name, dest.name());
    }
    const std::string path = files_.path() + "/bad.pmr";
    if (*GetParam())
        std::ofstream(path, std::ios::binary) << GetParam();
    modal_answerer answers;
    answers.push(QMessageBox::Ok);
    const int exit_code = pelmora_main(path);

    EXPECT_EQ(exit_code, -1);
    ASSERT_EQ(answers.seen().size(), 1u);
    EXPECT_EQ(answers.seen()[0].caption, QStringLiteral("Error"));
    EXPECT_TRUE(database_exists(dest.name()));
}

INSTANTIATE_TEST_SUITE_P(profiles, bad_profile,
                         ::testing::Values("", "\x01\x02 this is not a profile\n[Generic settings\n=\n"),
                         [](const auto& info) { return *info.param ? "unreadable" : "missing"; });

TEST_F(quick_launch, a_failed_connection_is_reported_before_any_window_and_ends_with_failure)
{
    const std::string profile = files_.path() + "/bad_port.pmr";
    {
        pelmora_convertor c(convertor_form::console);
        fill(c, source_name, "qql_never");
        c.selected_tables = {L"items"};
        ASSERT_TRUE(c.store_profile_file(tk_utf8_to_unicode(profile)));
    }
    // A MySQL port that reads as 0.
    std::string text;
    {
        std::ifstream in(profile, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    const auto at = text.find(std::to_string(test_env::mysql().port));
    ASSERT_NE(at, std::string::npos);
    text.replace(at, std::to_string(test_env::mysql().port).size(), "0");
    std::ofstream(profile, std::ios::binary | std::ios::trunc) << text;

    modal_answerer answers;
    answers.push(QMessageBox::Ok);
    EXPECT_EQ(pelmora_main(profile), -1);
    ASSERT_EQ(answers.seen().size(), 1u);
    EXPECT_EQ(answers.seen()[0].caption, QStringLiteral("Error"));  // no wizard window yet
    EXPECT_TRUE(answers.seen()[0].text.contains(QStringLiteral("Invalid port number")))
        << answers.seen()[0].text.toStdString();
}

// The conversion settings page refuses a schema name holding a '.' (the run
// would put the tables in another schema under other names): so does a quick launch.
TEST_F(quick_launch, a_schema_name_the_pages_refuse_is_refused_before_anything_is_touched)
{
    const std::string profile = files_.path() + "/dotted_schema.pmr";
    const std::string dest = test_env::unique_name("qql_dot");
    {
        pelmora_convertor c(convertor_form::console);
        fill(c, source_name, dest);
        c.selected_tables = {L"items"};
        c.pgs_schema = L"sales.x";
        ASSERT_TRUE(c.store_profile_file(tk_utf8_to_unicode(profile)));
    }
    modal_answerer answers;
    answers.push(QMessageBox::Ok);
    EXPECT_EQ(pelmora_main(profile), -1);
    ASSERT_EQ(answers.seen().size(), 1u);
    EXPECT_EQ(answers.seen()[0].text,
              QStringLiteral("Invalid schema name 'sales.x': a schema name is one name and cannot hold a '.'. "
                             "Nothing was converted."));
    EXPECT_FALSE(database_exists(dest));
}

TEST_F(quick_launch, without_arguments_the_wizard_opens_on_the_welcome_page_and_cancel_stores_the_settings)
{
    int first_idd = 0;
    bool back_enabled = true;
    QTimer canceller;
    canceller.setInterval(20);
    modal_answerer answers;
    QObject::connect(&canceller, &QTimer::timeout, [&] {
        wizard_shell* sh = wizard_shell::try_instance();
        if (!sh || !sh->current_page() || !sh->isVisible() || QApplication::activeModalWidget() != sh)
            return;
        canceller.stop();
        first_idd = sh->current_page()->idd();
        back_enabled = sh->button(QWizard::BackButton)->isEnabled();
        answers.push(QMessageBox::Yes);
        sh->reject();
    });
    canceller.start();
    EXPECT_EQ(pelmora_main(""), 0);
    EXPECT_EQ(first_idd, 103);
    EXPECT_FALSE(back_enabled);
    EXPECT_TRUE(std::filesystem::exists(pf_settings_file::path_for_key(pelmora_settings_key)));
}

}  // namespace

namespace {

// The program itself, started without a display it can reach: it says so and
// ends with status 255 instead of the window library's abort.
struct no_display_case {
    const char* environment;  // what the program is started with
    const char* name;
};

class no_display : public ::testing::TestWithParam<no_display_case> {};

TEST_P(no_display, the_program_says_it_cannot_open_its_window_and_exits_255)
{
    test_env::scratch_dir folder("no_display");
    const std::string err = folder.path() + "/stderr.txt";
    const std::string command = std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ") +
                                GetParam().environment + " XDG_CONFIG_HOME='" + folder.path() + "' '" +
                                program_folder().toStdString() + "/pelmora' 2>'" + err + "' >/dev/null";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 255);
    std::ifstream in(err, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find(pelmora_no_display_text), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(starts, no_display,
                         ::testing::Values(no_display_case{"", "unset"},
                                           no_display_case{"DISPLAY=:9871", "unreachable"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
