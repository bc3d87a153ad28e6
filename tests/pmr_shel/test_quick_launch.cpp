// The program's entry point: a quick launch with a profile runs the conversion
// at once on the progress page; a profile that does not load touches nothing.
#include <QAbstractButton>
#include <QPlainTextEdit>

#include <filesystem>
#include <fstream>
#include <iterator>

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
        try {
            mysql_exec(admin_, "DROP DATABASE IF EXISTS `" + source_name + "`");
        } catch (...) {
        }
        mysql_close(admin_);
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
