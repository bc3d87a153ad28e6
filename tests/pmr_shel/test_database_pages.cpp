// The database page with its overwrite questions, and the conversion settings
// page, against the test servers.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <filesystem>
#include <fstream>

#include "TK/tk_log.h"
#include "TK/tk_strings.h"
#include "pmr_shel/conversion_settings_page.h"
#include "pmr_shel/database_page.h"
#include "pmr_shel/wizard_pages.h"
#include "source_db_fixture.h"

using namespace wizard_test;

namespace {

class database_pages : public source_db_fixture {
protected:
    void SetUp() override
    {
        source_db_fixture::SetUp();
        source("CREATE TABLE items (id INT PRIMARY KEY, name VARCHAR(20)); INSERT INTO items VALUES (1, 'one')");
        convertor().b_direct = true;
        convertor().set_mode(udb_mode_overwrite_db);
        database = add_page(std::make_unique<sel_file_page>());
        settings = add_page(std::make_unique<conversion_settings>());
        add_page(std::make_unique<placeholder_page>(tables_page_info));
        show_wizard();
    }

    int current_idd() { return current() ? current()->idd() : -1; }
    void press(QWizard::WizardButton which)
    {
        shell().button(which)->click();
        pump(30);
    }
    // Next, answering the modal windows that come up in order; answers what
    // they said. A window more than expected is closed (and shows in the
    // answer), so a wrong turn fails the test instead of hanging it.
    std::vector<seen_window> next_answering(std::vector<modal_answerer::answer> replies)
    {
        const std::size_t expected = replies.size();
        modal_answerer answers;
        for (auto& r : replies)
            answers.push(std::move(r));
        for (int i = 0; i < 3; ++i)
            answers.push([](QWidget* w) {
                if (auto* d = qobject_cast<QDialog*>(w))
                    d->reject();
            });
        press(QWizard::NextButton);
        EXPECT_TRUE(wait_until([&] { return answers.seen().size() >= expected; }));
        pump(30);
        return answers.seen();
    }
    static modal_answerer::answer press_box(QMessageBox::StandardButton button)
    {
        return [button](QWidget* w) { qobject_cast<QMessageBox*>(w)->button(button)->click(); };
    }
    QLineEdit* edit(QWidget* page, int id) { return find_control<QLineEdit>(page, wizard_page::ctrl_name(id)); }

    void create_destination()
    {
        pqxx::connection c(test_env::pg_conninfo("postgres"));
        pqxx::nontransaction tx(c);
        tx.exec("CREATE DATABASE \"" + dest_name + "\"");
    }
    bool destination_exists()
    {
        pqxx::connection c(test_env::pg_conninfo("postgres"));
        pqxx::nontransaction tx(c);
        return !tx.exec("SELECT 1 FROM pg_database WHERE datname = " + tx.quote(dest_name)).empty();
    }

    sel_file_page* database = nullptr;
    conversion_settings* settings = nullptr;
};

}  // namespace

TEST_F(database_pages, next_names_what_is_missing_and_stays)
{
    ASSERT_EQ(current_idd(), 106);
    EXPECT_EQ(find_control<QComboBox>(database, QStringLiteral("ctl_1302"))->currentText().toStdString(),
              source_name);
    save_picture(&shell(), QStringLiteral("database_page"));
    struct missing_case {
        std::string source;
        std::string destination;
        bool direct;
        QString text;
    };
    const std::vector<missing_case> cases = {
        {"", dest_name, true, QStringLiteral("You should enter MySQL database name")},
        {source_name, "", true, QStringLiteral("You should enter PostgreSQL database name")},
        {source_name, "", false, QStringLiteral("You should enter PostgreSQL script file name")},
        {source_name + "_none", dest_name, true, QStringLiteral("MySQL database does not exist")},
    };
    auto* box = find_control<QComboBox>(database, QStringLiteral("ctl_1302"));
    for (const missing_case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        convertor().b_direct = c.direct;
        box->setEditText(QString::fromStdString(c.source));
        edit(database, 1004)->setText(QString::fromStdString(c.destination));
        const auto seen = next_answering({press_box(QMessageBox::Ok)});
        EXPECT_EQ(current_idd(), 106);
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].object_name, QStringLiteral("box_message"));
        EXPECT_EQ(seen[0].text, c.text);
        // Stored before it was checked.
        EXPECT_EQ(convertor().get_source(), tk_utf8_to_unicode(c.source));
    }
}

TEST_F(database_pages, existing_script_file_is_kept_until_a_run_replaces_it_and_only_after_yes)
{
    convertor().b_direct = false;
    const std::string script = config_folder() + "/out.sql";
    std::ofstream(script) << "-- kept\n";
    edit(database, 1004)->setText(QString::fromStdString(script));

    auto seen = next_answering({press_box(QMessageBox::No)});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].text.startsWith(QStringLiteral("Destination file already exists. Overwrite?")));
    EXPECT_EQ(current_idd(), 106);
    EXPECT_TRUE(std::filesystem::exists(script));

    // No is the default answer.
    seen = next_answering({[](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        EXPECT_EQ(static_cast<QAbstractButton*>(box->defaultButton()), box->button(QMessageBox::No));
        box->button(QMessageBox::Yes)->click();
    }});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(current_idd(), 110);
    // Still there: the run puts the new script in its place when it finishes.
    EXPECT_TRUE(std::filesystem::exists(script));
    EXPECT_EQ(convertor().get_mode(), udb_mode_overwrite_db);

    // A folder is no script file.
    press(QWizard::BackButton);
    ASSERT_EQ(current_idd(), 106);
    edit(database, 1004)->setText(QString::fromStdString(config_folder()));
    seen = next_answering({press_box(QMessageBox::Ok)});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].object_name, QStringLiteral("box_error"));
    EXPECT_EQ(current_idd(), 106);
}

TEST_F(database_pages, existing_database_dialog_sets_each_mode_and_mode_0_drops_at_once)
{
    create_destination();
    auto choose = [](int control_id) {
        return [control_id](QWidget* dlg) {
            find_control<QRadioButton>(dlg, wizard_page::ctrl_name(control_id))->click();
            find_control<QAbstractButton>(dlg, QStringLiteral("ctl_1"))->click();
        };
    };

    // Cancel: nothing changes.
    auto seen = next_answering({[](QWidget* dlg) {
        EXPECT_EQ(dlg->objectName(), QStringLiteral("dlg_133"));
        EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Tessalane Test Warning"));
        // The first choice is checked when the dialog opens.
        EXPECT_TRUE(find_control<QRadioButton>(dlg, QStringLiteral("ctl_1329"))->isChecked());
        save_picture(dlg, QStringLiteral("overwrite_dialog"));
        find_control<QAbstractButton>(dlg, QStringLiteral("ctl_2"))->click();
    }});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, QStringLiteral("The destination database already exists. Select one of the\n"
                                           "options below. Click 'Help' button for more information."));
    EXPECT_EQ(current_idd(), 106);
    EXPECT_TRUE(destination_exists());

    // Modes 1 to 4 keep the database; each visit of the settings page lists
    // its schemas, which leaves the engine connected to it.
    const std::pair<int, int> kept_modes[] = {{1330, 1}, {1331, 2}, {1332, 3}, {1339, 4}};
    for (const auto& [control, mode] : kept_modes) {
        SCOPED_TRACE(mode);
        seen = next_answering({choose(control)});
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(current_idd(), 110);
        EXPECT_EQ(convertor().get_mode(), mode);
        EXPECT_TRUE(destination_exists());
        press(QWizard::BackButton);
        ASSERT_EQ(current_idd(), 106);
    }

    // Mode 0 drops the database before the settings page shows.
    seen = next_answering({choose(1329)});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(current_idd(), 110);
    EXPECT_EQ(convertor().get_mode(), 0);
    EXPECT_FALSE(destination_exists());
    EXPECT_TRUE(handler().get_error_list().empty());
}

TEST_F(database_pages, the_database_named_on_the_postgresql_page_is_not_dropped)
{
    create_destination();
    convertor().conn_db_name = tk_utf8_to_unicode(dest_name);
    convertor().connect_pgs_server(dest_name);
    convertor().set_mode(udb_mode_merge);
    auto seen = next_answering({[](QWidget* dlg) {
                                    find_control<QAbstractButton>(dlg, QStringLiteral("ctl_1"))->click();
                                },
                                press_box(QMessageBox::Ok)});
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].object_name, QStringLiteral("box_error"));
    EXPECT_EQ(seen[1].text, QStringLiteral("Cannot drop predefined PostgreSQL database. Leave 'Database' field "
                                           "empty on 'Step 2 of 7' wizard page"));
    EXPECT_EQ(current_idd(), 106);
    EXPECT_TRUE(destination_exists());
    EXPECT_EQ(convertor().get_mode(), udb_mode_merge);

    // Appending into it is allowed.
    seen = next_answering({[](QWidget* dlg) {
        find_control<QRadioButton>(dlg, QStringLiteral("ctl_1332"))->click();
        find_control<QAbstractButton>(dlg, QStringLiteral("ctl_1"))->click();
    }});
    EXPECT_EQ(current_idd(), 110);
    EXPECT_EQ(convertor().get_mode(), udb_mode_merge);
}

TEST_F(database_pages, a_failed_drop_is_shown_and_the_page_stays)
{
    create_destination();
    // A session of another user keeps the database busy.
    pqxx::connection holder(test_env::pg_conninfo(dest_name));
    auto seen = next_answering({[](QWidget* dlg) {
                                    find_control<QAbstractButton>(dlg, QStringLiteral("ctl_1"))->click();
                                },
                                press_box(QMessageBox::Ok)});
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].object_name, QStringLiteral("box_error"));
    EXPECT_TRUE(seen[1].text.contains(QString::fromStdString(dest_name))) << seen[1].text.toStdString();
    EXPECT_EQ(current_idd(), 106);
    EXPECT_TRUE(destination_exists());
}

TEST_F(database_pages, picking_a_database_from_the_list_drops_choices_made_for_another)
{
    convertor().selected_tables = {L"old_table"};
    convertor().query_list = {{L"q", L"SELECT 1"}};
    auto* box = find_control<QComboBox>(database, QStringLiteral("ctl_1302"));
    edit(database, 1004)->clear();
    // Typing keeps the choices.
    box->setEditText(QStringLiteral("typed"));
    EXPECT_EQ(convertor().selected_tables.size(), 1u);

    box->showPopup();
    pump(30);
    const int row = box->findText(QString::fromStdString(source_name));
    ASSERT_GE(row, 0);
    box->hidePopup();
    box->setCurrentIndex(row);
    emit box->activated(row);
    EXPECT_EQ(edit(database, 1004)->text().toStdString(), source_name);
    EXPECT_TRUE(convertor().selected_tables.empty());
    EXPECT_TRUE(convertor().query_list.empty());
}

TEST_F(database_pages, encoding_box_keeps_the_previous_encoding_when_nothing_matches)
{
    auto* encodings = find_control<QComboBox>(database, QStringLiteral("ctl_1303"));
    EXPECT_FALSE(encodings->isEditable());
    EXPECT_EQ(encodings->currentText(), QStringLiteral("UTF8"));
    encodings->setCurrentIndex(encodings->findText(QStringLiteral("WIN1251")));
    database->store_settings();
    EXPECT_EQ(convertor().client_encoding, L"WIN1251");

    // A fresh page for an encoding no item begins with.
    convertor().client_encoding = L"LATIN9";
    sel_file_page fresh;
    fresh.page_init();
    auto* fresh_box = find_control<QComboBox>(&fresh, QStringLiteral("ctl_1303"));
    EXPECT_EQ(fresh_box->currentIndex(), -1);
    find_control<QComboBox>(&fresh, QStringLiteral("ctl_1302"))->setEditText(QString::fromStdString(source_name));
    fresh.store_settings();
    EXPECT_EQ(convertor().client_encoding, L"LATIN9");
}

TEST_F(database_pages, a_log_file_in_a_missing_folder_keeps_the_page_both_ways)
{
    // The log file is checked only where a logger exists, as in the program.
    tk_logger logger(nullptr, false, 3, false);
    edit(database, 1005)->setText(QString::fromStdString(config_folder() + "/no/such/folder/trace.log"));
    auto seen = next_answering({press_box(QMessageBox::Ok)});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].object_name, QStringLiteral("box_error"));
    EXPECT_EQ(current_idd(), 106);
    modal_answerer answers;
    answers.push(QMessageBox::Ok);
    EXPECT_EQ(database->on_back(), -1);
    EXPECT_TRUE(answers.all_answered());
}

TEST_F(database_pages, conversion_settings_show_and_store_the_switches)
{
    pelmora_convertor& cvt = convertor();
    cvt.b_direct = false;
    cvt.skip_idx = true;
    cvt.tab_def = true;
    cvt.b_case_sens = false;
    cvt.pgs_schema = L"public";
    cvt.get_pgs_engine().fast_insert = true;
    cvt.get_pgs_engine().unlogged = false;
    const std::string script = config_folder() + "/settings.sql";
    edit(database, 1004)->setText(QString::fromStdString(script));
    press(QWizard::NextButton);
    ASSERT_EQ(current_idd(), 110);
    save_picture(&shell(), QStringLiteral("conversion_settings_page"));

    // A script has no schemas to list: a new schema, the remembered name.
    EXPECT_EQ(find_control<QComboBox>(settings, QStringLiteral("ctl_1302"))->count(), 0);
    EXPECT_TRUE(find_control<QRadioButton>(settings, QStringLiteral("ctl_1330"))->isChecked());
    EXPECT_FALSE(find_control(settings, QStringLiteral("ctl_1302"))->isEnabled());
    EXPECT_EQ(edit(settings, 1004)->text(), QStringLiteral("public"));
    EXPECT_TRUE(find_control<QCheckBox>(settings, QStringLiteral("ctl_1228"))->isChecked());
    EXPECT_EQ(find_control<QComboBox>(settings, QStringLiteral("ctl_1304"))->currentText(), QStringLiteral("COPY"));

    // One click, one toggle.
    auto* case_box = find_control<QCheckBox>(settings, QStringLiteral("ctl_1202"));
    case_box->click();
    EXPECT_TRUE(case_box->isChecked());
    find_control<QCheckBox>(settings, QStringLiteral("ctl_1228"))->click();
    edit(settings, 1004)->setText(QStringLiteral("Sales"));
    find_control<QComboBox>(settings, QStringLiteral("ctl_1303"))->setCurrentIndex(1);
    find_control<QComboBox>(settings, QStringLiteral("ctl_1304"))->setCurrentIndex(1);
    press(QWizard::NextButton);
    EXPECT_EQ(current_idd(), 127);
    EXPECT_TRUE(cvt.b_case_sens);
    EXPECT_TRUE(cvt.get_pgs_engine().is_case_sens);
    EXPECT_FALSE(cvt.tab_def);
    EXPECT_EQ(cvt.pgs_schema, L"Sales");
    EXPECT_TRUE(cvt.get_pgs_engine().unlogged);
    EXPECT_FALSE(cvt.get_pgs_engine().fast_insert);
    // Nothing on the page sets it: it keeps what the profile or the registry gave.
    EXPECT_TRUE(cvt.skip_idx);

    // Back stores the same way.
    press(QWizard::BackButton);
    ASSERT_EQ(current_idd(), 110);
    case_box->click();
    press(QWizard::BackButton);
    EXPECT_EQ(current_idd(), 106);
    EXPECT_FALSE(cvt.b_case_sens);
    EXPECT_FALSE(cvt.get_pgs_engine().is_case_sens);
}

// A schema name the run would split at its '.' or the server would cut is
// refused on the page, which stays; the page takes the same name mended.
TEST_F(database_pages, conversion_settings_refuse_a_schema_name_the_run_could_not_take)
{
    convertor().b_direct = false;
    edit(database, 1004)->setText(QString::fromStdString(config_folder() + "/schema.sql"));
    press(QWizard::NextButton);
    ASSERT_EQ(current_idd(), 110);
    struct schema_case {
        std::wstring name;
        QString text;
    };
    const schema_case cases[] = {
        {L"sales.x", QStringLiteral("Invalid schema name 'sales.x': a schema name is one name and cannot hold a '.'.")},
        {std::wstring(64, L's'), QStringLiteral("The schema name '%1' is 64 bytes long: PostgreSQL keeps 63 bytes of a "
                                                "name, and the shorter name may be another schema's. Choose a shorter "
                                                "name.").arg(QString(64, QLatin1Char('s')))},
    };
    for (const schema_case& c : cases) {
        edit(settings, 1004)->setText(QString::fromStdWString(c.name));
        const auto seen = next_answering({press_box(QMessageBox::Ok)});
        EXPECT_EQ(current_idd(), 110);
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].object_name, QStringLiteral("box_error"));
        EXPECT_EQ(seen[0].text, c.text);
    }
    save_picture(&shell(), QStringLiteral("conversion_settings_bad_schema"));
    edit(settings, 1004)->setText(QString(63, QLatin1Char('s')));
    press(QWizard::NextButton);
    EXPECT_EQ(current_idd(), 127);
    EXPECT_EQ(convertor().pgs_schema, std::wstring(63, L's'));
}

TEST_F(database_pages, conversion_settings_offer_the_schemas_of_an_existing_database)
{
    create_destination();
    {
        pqxx::connection c(test_env::pg_conninfo(dest_name));
        pqxx::nontransaction tx(c);
        // Schemas are offered when they hold tables.
        tx.exec("CREATE SCHEMA \"Archive\"; CREATE TABLE \"Archive\".t (i int); CREATE TABLE public.t (i int)");
    }
    convertor().pgs_schema = L"archive";
    auto seen = next_answering({[](QWidget* dlg) {
        find_control<QRadioButton>(dlg, QStringLiteral("ctl_1330"))->click();
        find_control<QAbstractButton>(dlg, QStringLiteral("ctl_1"))->click();
    }});
    ASSERT_EQ(current_idd(), 110);
    auto* schemas = find_control<QComboBox>(settings, QStringLiteral("ctl_1302"));
    EXPECT_GE(schemas->findText(QStringLiteral("public")), 0);
    EXPECT_TRUE(find_control<QRadioButton>(settings, QStringLiteral("ctl_1329"))->isChecked());
    EXPECT_EQ(schemas->currentText(), QStringLiteral("Archive"));
    EXPECT_FALSE(find_control(settings, QStringLiteral("ctl_1004"))->isEnabled());
    press(QWizard::NextButton);
    EXPECT_EQ(convertor().pgs_schema, L"Archive");
}
