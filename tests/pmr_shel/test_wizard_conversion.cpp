// Whole conversions driven through every page of the wizard, live and into a
// script, compared with what the console program makes of the same settings.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "GUI2/finish_page.h"
#include "TK/tk_strings.h"
#include "console/console_test_support.h"
#include "pmr_shel/progress_page.h"
#include "pmr_shel/wizard_pages.h"
#include "wizard_test_support.h"

using namespace wizard_test;
using console_test::operator+;

namespace {

constexpr const char* source_tables =
    "CREATE TABLE `Customers` (`CustomerId` INT AUTO_INCREMENT PRIMARY KEY, `FullName` VARCHAR(40) NOT NULL,"
    " `Balance` DECIMAL(10,2), `Joined` DATETIME, KEY `ByName` (`FullName`));"
    "INSERT INTO `Customers` (`FullName`, `Balance`, `Joined`) VALUES"
    " ('Zoë Ångström', 12.50, '2024-02-29 13:14:15'), ('O''Brien\\ttab', NULL, NULL), ('Ünïcödé ☃', -0.01,"
    " '1999-12-31 23:59:59');"
    "CREATE TABLE notes (id BIGINT PRIMARY KEY, body TEXT, flag TINYINT(1), data BLOB);"
    "INSERT INTO notes VALUES (1, 'line\\nbreak', 1, X'00FF10'), (2, NULL, 0, NULL), (3, '', NULL, X'')";

class wizard_conversion : public wizard_fixture {
protected:
    void SetUp() override
    {
        wizard_fixture::SetUp();
        source_db.exec(source_tables);
        wizard_page_set set;
        build_settings_pages(set);
        for (auto& page : set.pages)
            add_page(std::move(page));
        add_page(std::make_unique<progress_page>());
        finish = add_page(std::make_unique<gui_finish_page>(finish_page_info, L"All done.", L"Something failed.",
                                                            profile_extension));
        finish->set_script_success_text(L"Script done.");
        show_wizard();
    }
    void TearDown() override
    {
        close_wizard();
        wizard_fixture::TearDown();
    }

    int current_idd() { return current() ? current()->idd() : -1; }
    void press(QWizard::WizardButton which)
    {
        shell().button(which)->click();
        pump(30);
    }
    void next_expecting(int idd)
    {
        press(QWizard::NextButton);
        ASSERT_EQ(current_idd(), idd);
    }
    void type(int id, const std::string& text)
    {
        find_control<QLineEdit>(current(), wizard_page::ctrl_name(id))->setText(QString::fromStdString(text));
    }
    void click(int id)
    {
        find_control<QAbstractButton>(current(), wizard_page::ctrl_name(id))->click();
        pump(20);
    }
    void choose(int id, const QString& item)
    {
        auto* box = find_control<QComboBox>(current(), wizard_page::ctrl_name(id));
        box->setCurrentIndex(box->findText(item));
    }

    // Welcome to the finish page as a user would go, with case-sensitive
    // names and rows by COPY; destination is a database name or a script path.
    void convert_through_the_pages(bool live, const std::string& destination)
    {
        ASSERT_EQ(current_idd(), 103);
        click(live ? 1329 : 1330);
        next_expecting(123);
        const auto my = test_env::mysql();
        click(1330);
        type(1014, my.host);
        type(1015, std::to_string(my.port));
        type(1012, my.user);
        type(1013, my.password);
        if (live) {
            next_expecting(134);
            const auto pg = test_env::pg();
            type(1014, pg.host);
            type(1015, std::to_string(pg.port));
            type(1012, pg.user);
            type(1013, pg.password);
            type(1002, "");
        }
        next_expecting(106);
        find_control<QComboBox>(current(), QStringLiteral("ctl_1302"))
            ->setEditText(QString::fromStdString(source_db.name()));
        type(1004, destination);
        type(1005, "");
        choose(1303, QStringLiteral("UTF8"));
        save_picture(&shell(), live ? QStringLiteral("database_page_live") : QStringLiteral("database_page_script"));
        next_expecting(110);
        auto* case_box = find_control<QCheckBox>(current(), QStringLiteral("ctl_1202"));
        if (!case_box->isChecked())
            click(1202);
        if (find_control<QCheckBox>(current(), QStringLiteral("ctl_1228"))->isChecked())
            click(1228);
        click(1330);
        type(1004, "public");
        choose(1303, QStringLiteral("LOGGED"));
        choose(1304, QStringLiteral("COPY"));
        next_expecting(127);
        select_every_table();
        press(QWizard::NextButton);
        if (current_idd() == 127)  // the views page, when the source has views
            press(QWizard::NextButton);
        ASSERT_TRUE(wait_until([&] { return current_idd() == 116; }, 120000));
        EXPECT_EQ(convertor().outcome(), conversion_outcome::completed);
        EXPECT_TRUE(handler().get_error_list().empty());
    }

    // Every table of the source: "Add all" on the tables page, or the
    // selection itself while the page is a stand-in.
    void select_every_table()
    {
        if (auto* add_all = find_control<QAbstractButton>(current(), QStringLiteral("ctl_1102"))) {
            add_all->click();
            pump(20);
            EXPECT_EQ(find_control<QListWidget>(current(), QStringLiteral("ctl_1318"))->count(), 2);
        } else {
            convertor().selected_tables = {L"Customers", L"notes"};
        }
    }

    // The console program with the same settings.
    console_test::run_result run_console(const std::vector<std::string>& destination_options)
    {
        return console_test::run_quindrel(console_test::connection_options() +
                                          std::vector<std::string>{"--src=" + source_db.name(), "--mode=0",
                                                                   "--case_sens", "--fast_insert", "--encoding=UTF8",
                                                                   "--schema=public"} +
                                          destination_options);
    }

    console_test::mysql_source source_db{"qwsrc"};
    gui_finish_page* finish = nullptr;
    QString finish_text() { return finish->ctrl_as<QLabel>(1314)->text(); }
};

// Tables, columns with types, indexes and rows of a database, in one text.
std::string describe(const console_test::pg_destination& db)
{
    std::ostringstream out;
    for (const auto& line :
         db.rows("SELECT table_name, column_name, data_type, is_nullable, coalesce(column_default, '') FROM "
                 "information_schema.columns WHERE table_schema = 'public' ORDER BY table_name, ordinal_position"))
        out << line << '\n';
    for (const auto& line :
         db.rows("SELECT tablename, indexdef FROM pg_indexes WHERE schemaname = 'public' ORDER BY 1, 2"))
        out << line << '\n';
    for (const auto& line : db.rows("SELECT * FROM \"Customers\" ORDER BY 1"))
        out << line << '\n';
    for (const auto& line : db.rows("SELECT * FROM \"notes\" ORDER BY 1"))
        out << line << '\n';
    return out.str();
}

// A script without its header comment (file name, date and program differ).
std::string script_statements(const std::string& path)
{
    const std::string text = console_test::read_file(path);
    const std::size_t header_end = text.find("*/");
    return header_end == std::string::npos ? text : text.substr(header_end + 2);
}

}  // namespace

TEST_F(wizard_conversion, live_conversion_through_the_pages_equals_the_console_and_keeps_name_case)
{
    console_test::pg_destination by_wizard("qwdst"), by_console("qcdst");
    convert_through_the_pages(true, by_wizard.name());
    save_picture(&shell(), QStringLiteral("finish_page_live"));
    ASSERT_TRUE(by_wizard.exists());
    EXPECT_EQ(finish_text(), QStringLiteral("All done."));

    // Names keep their case: the table and its columns need quotes.
    EXPECT_EQ(by_wizard.value("SELECT \"FullName\" FROM \"Customers\" WHERE \"CustomerId\" = 1"), "Zoë Ångström");
    EXPECT_EQ(by_wizard.value("SELECT count(*) FROM pg_tables WHERE tablename = 'Customers'"), "1");

    const auto console = run_console({"--dest=" + by_console.name()});
    ASSERT_EQ(console.status, 0) << console.out << console.err;
    EXPECT_EQ(describe(by_wizard), describe(by_console));
}

TEST_F(wizard_conversion, script_through_the_pages_equals_the_console_script)
{
    const test_env::scratch_dir folder("wizard_script");
    const std::string by_wizard = folder.path() + "/wizard.sql";
    const std::string by_console = folder.path() + "/console.sql";
    convert_through_the_pages(false, by_wizard);
    save_picture(&shell(), QStringLiteral("finish_page_script"));
    // Not the live run's text: nothing reached a server.
    EXPECT_EQ(finish_text(), QStringLiteral("Script done."));

    const auto console = run_console({"--dest=" + by_console, "--dump"});
    ASSERT_EQ(console.status, 0) << console.out << console.err;
    const std::string wizard_text = script_statements(by_wizard);
    EXPECT_NE(wizard_text.find("\"Customers\""), std::string::npos);
    EXPECT_EQ(wizard_text, script_statements(by_console));
}
