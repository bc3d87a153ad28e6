// The welcome page, the two connection pages and the SSL dialog, driven through
// the wizard against the test servers.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <QElapsedTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <ostream>

#include "GUI2/file_dialogs.h"
#include "SQL/sql_engine.h"
#include "TK/tk_strings.h"
#include "pg_target/pgs_engine.h"
#include "pmr_shel/conversion_settings_page.h"
#include "pmr_shel/database_page.h"
#include "pmr_shel/mysql_settings_page.h"
#include "pmr_shel/pgs_settings_page.h"
#include "pmr_shel/port_text.h"
#include "pmr_shel/welcome_page.h"
#include "pmr_shel/wizard_pages.h"
#include "wizard_test_support.h"

using namespace wizard_test;

namespace {

// One paragraph: the box wraps it to its own width.
const QString access_denied_text = QStringLiteral(
    "Access denied. Verify the user name and password are correct, and you have "
    "the necessary privileges to connect to the target MySQL server.");

class connection_pages : public wizard_fixture {
protected:
    void SetUp() override
    {
        wizard_fixture::SetUp();
        welcome = add_page(std::make_unique<welcome_page>(profile_extension));
        mysql = add_page(std::make_unique<sql_settings_page>());
        pgs = add_page(std::make_unique<pgs_settings_page>());
        database = add_page(std::make_unique<sel_file_page>());
        show_wizard();
    }

    int current_idd() { return current() ? current()->idd() : -1; }
    void press(QWizard::WizardButton which)
    {
        shell().button(which)->click();
        pump(30);
    }
    static void type(wizard_page* page, int id, const std::string& text)
    {
        find_control<QLineEdit>(page, wizard_page::ctrl_name(id))->setText(QString::fromStdString(text));
    }
    static void click(QWidget* page, int id)
    {
        find_control<QAbstractButton>(page, wizard_page::ctrl_name(id))->click();
        pump(20);
    }

    // From the welcome page to the MySQL page, live or script, with the
    // test server's remote settings typed in.
    void to_mysql_page(bool live)
    {
        click(welcome, live ? 1329 : 1330);
        press(QWizard::NextButton);
        ASSERT_EQ(current_idd(), 123);
        const auto my = test_env::mysql();
        click(mysql, 1330);
        type(mysql, 1014, my.host);
        type(mysql, 1015, std::to_string(my.port));
        type(mysql, 1012, my.user);
        type(mysql, 1013, my.password);
    }

    void type_pg_settings()
    {
        const auto pg = test_env::pg();
        type(pgs, 1014, pg.host);
        type(pgs, 1015, std::to_string(pg.port));
        type(pgs, 1012, pg.user);
        type(pgs, 1013, pg.password);
        type(pgs, 1002, "");
    }

    welcome_page* welcome = nullptr;
    sql_settings_page* mysql = nullptr;
    pgs_settings_page* pgs = nullptr;
    sel_file_page* database = nullptr;
};

}  // namespace

TEST(port_text, only_blanks_or_a_port_number_is_read)
{
    struct port_case {
        const char* text;
        bool accepted;
        int port;
    };
    const port_case cases[] = {
        {"", true, 0},         {"   ", true, 0},      {"5432", true, 5432}, {" 3306 ", true, 3306},
        {"0", true, 0},        {"65535", true, 65535}, {"65536", false, -1}, {"54a", false, -1},
        {"-1", false, -1},     {"+5432", false, -1},   {"1e3", false, -1},   {"99999999999", false, -1},
    };
    for (const port_case& c : cases) {
        SCOPED_TRACE(c.text);
        int port = -1;
        EXPECT_EQ(read_port_text(QString::fromLatin1(c.text), port), c.accepted);
        EXPECT_EQ(port, c.port);
    }
}

TEST_F(connection_pages, mysql_page_stays_with_one_error_box_for_refused_logins_and_ports)
{
    to_mysql_page(true);
    const auto my = test_env::mysql();
    struct refused {
        std::string password;
        std::string port;
        QString text;
        QString server_says;  // the server's own words after the advice ("" for none)
    };
    const std::vector<refused> cases = {
        {my.password + "-wrong", std::to_string(my.port), access_denied_text, QStringLiteral("Access denied for user")},
        {my.password, "0", QStringLiteral("Invalid port number"), QString()},
        // The client library would read this as port 33.
        {my.password, "33o6", QStringLiteral("Invalid port number"), QString()},
    };
    for (const refused& c : cases) {
        SCOPED_TRACE(c.port);
        modal_answerer answers;
        answers.push(QMessageBox::Ok);
        type(mysql, 1013, c.password);
        type(mysql, 1015, c.port);
        press(QWizard::NextButton);
        ASSERT_TRUE(wait_until([&] { return answers.all_answered(); }));
        pump(30);
        EXPECT_EQ(current_idd(), 123);
        ASSERT_EQ(answers.seen().size(), 1u);
        EXPECT_EQ(answers.seen()[0].object_name, QStringLiteral("box_error"));
        if (c.server_says.isEmpty()) {
            EXPECT_EQ(answers.seen()[0].text, c.text);
        } else {
            EXPECT_TRUE(answers.seen()[0].text.startsWith(c.text + QStringLiteral("\n\n")))
                << answers.seen()[0].text.toStdString();
            EXPECT_TRUE(answers.seen()[0].text.contains(c.server_says)) << answers.seen()[0].text.toStdString();
        }
        // What was typed stays stored, to be remembered.
        EXPECT_EQ(convertor().mysql_port, c.port);
        if (c.text == access_denied_text)
            save_picture(&shell(), QStringLiteral("mysql_settings_page"));
    }
    // Failures of this page are not listed for the finish page.
    EXPECT_TRUE(handler().get_error_list().empty());
}

// Remote with the host box left empty would connect to this computer's socket
// instead: the page says what is missing and stays.
TEST_F(connection_pages, mysql_page_remote_without_a_host_stays)
{
    to_mysql_page(true);
    type(mysql, 1014, "  ");
    modal_answerer answers;
    answers.push(QMessageBox::Ok);
    press(QWizard::NextButton);
    ASSERT_TRUE(wait_until([&] { return answers.all_answered(); }));
    pump(30);
    EXPECT_EQ(current_idd(), 123);
    ASSERT_EQ(answers.seen().size(), 1u);
    EXPECT_EQ(answers.seen()[0].object_name, QStringLiteral("box_error"));
    EXPECT_EQ(answers.seen()[0].text, QStringLiteral("Enter the host name or IP address of the MySQL server, or "
                                                     "choose Local for the server on this computer."));
    EXPECT_TRUE(find_control<QAbstractButton>(mysql, QStringLiteral("ctl_1330"))->isChecked());
}

TEST_F(connection_pages, mysql_page_local_ignores_the_remote_boxes)
{
    to_mysql_page(true);
    click(mysql, 1329);
    EXPECT_FALSE(find_control(mysql, QStringLiteral("ctl_1014"))->isEnabled());
    EXPECT_FALSE(find_control(mysql, QStringLiteral("ctl_1015"))->isEnabled());
    mysql->store_settings();
    EXPECT_EQ(convertor().mysql_host, "");
    EXPECT_EQ(convertor().mysql_port, "3306");
    EXPECT_EQ(convertor().mysql_user, test_env::mysql().user);
    // A remote host comes back checked as Remote with its boxes filled.
    click(mysql, 1330);
    press(QWizard::BackButton);
    ASSERT_EQ(current_idd(), 103);
    press(QWizard::NextButton);
    EXPECT_TRUE(find_control<QRadioButton>(mysql, QStringLiteral("ctl_1330"))->isChecked());
    EXPECT_EQ(find_control<QLineEdit>(mysql, QStringLiteral("ctl_1014"))->text().toStdString(),
              test_env::mysql().host);
}

TEST_F(connection_pages, script_destination_skips_the_postgresql_page_both_ways)
{
    // A database name remembered from a live conversion.
    convertor().set_source(L"shop");
    convertor().set_destination(L"shop_pg");
    // A first start: the port box shows the port that would be used.
    click(welcome, 1330);
    press(QWizard::NextButton);
    ASSERT_EQ(current_idd(), 123);
    EXPECT_EQ(find_control<QLineEdit>(mysql, QStringLiteral("ctl_1015"))->text(), QStringLiteral("3306"));
    press(QWizard::BackButton);
    to_mysql_page(false);
    // The steps a script passes, counted without the PostgreSQL page (this
    // wizard has the first four pages only: 1 and 2 of 2; the whole one says
    // 1 and 2 of 6).
    EXPECT_EQ(mysql->title(), QStringLiteral("Step 1 of 2"));
    press(QWizard::NextButton);
    ASSERT_EQ(current_idd(), 106);
    EXPECT_EQ(database->title(), QStringLiteral("Step 2 of 2"));
    // A script file with a folder and ".sql", not the bare database name.
    EXPECT_EQ(find_control<QLineEdit>(database, QStringLiteral("ctl_1004"))->text(),
              QString::fromStdWString(file_dialog::start_folder()) + QStringLiteral("/shop_pg.sql"));
    EXPECT_FALSE(convertor().b_direct);
    EXPECT_EQ(find_control<QLabel>(database, QStringLiteral("ctl_1311"))->text(),
              QStringLiteral("&PostgreSQL script file:"));
    EXPECT_FALSE(find_control(database, QStringLiteral("ctl_1104"))->isHidden());
    press(QWizard::BackButton);
    EXPECT_EQ(current_idd(), 123);
}

TEST_F(connection_pages, postgresql_page_reports_a_missing_database_and_keeps_it_as_destination)
{
    to_mysql_page(true);
    press(QWizard::NextButton);
    ASSERT_EQ(current_idd(), 134);
    // Nothing stored yet: the box offers the default port.
    EXPECT_EQ(find_control<QLineEdit>(pgs, QStringLiteral("ctl_1015"))->text(), QStringLiteral("5432"));

    type_pg_settings();
    const std::string missing = test_env::unique_name("Sales");
    type(pgs, 1002, missing);
    modal_answerer answers;
    answers.push(QMessageBox::Ok);
    press(QWizard::NextButton);
    ASSERT_TRUE(wait_until([&] { return answers.all_answered(); }));
    pump(30);
    EXPECT_EQ(current_idd(), 134);
    ASSERT_EQ(answers.seen().size(), 1u);
    const QString text = answers.seen()[0].text;
    EXPECT_TRUE(text.contains(QString::fromStdString(missing))) << text.toStdString();
    // Points to the page's help, which exists.
    EXPECT_TRUE(text.endsWith(QString::fromLatin1(pgs_settings_page::help_hint_text))) << text.toStdString();
    EXPECT_EQ(convertor().get_destination(), tk_utf8_to_unicode(missing));
    save_picture(&shell(), QStringLiteral("pgs_settings_page"));

    // With the box emptied the connection goes to the server's own database;
    // the destination stays the one named before.
    type(pgs, 1002, "");
    press(QWizard::NextButton);
    EXPECT_EQ(current_idd(), 106);
    EXPECT_EQ(convertor().get_destination(), tk_utf8_to_unicode(missing));
    EXPECT_TRUE(convertor().conn_db_name.empty());
    // Back from the PostgreSQL page with an empty box keeps the destination too.
    press(QWizard::BackButton);
    ASSERT_EQ(current_idd(), 134);
    press(QWizard::BackButton);
    EXPECT_EQ(convertor().get_destination(), tk_utf8_to_unicode(missing));
}

TEST_F(connection_pages, postgresql_port_box_empty_stores_zero_and_a_non_number_is_refused)
{
    to_mysql_page(true);
    press(QWizard::NextButton);
    ASSERT_EQ(current_idd(), 134);
    type_pg_settings();
    type(pgs, 1015, "");
    EXPECT_TRUE(pgs->store_settings());
    EXPECT_EQ(convertor().pgs_port, 0);

    type(pgs, 1015, std::to_string(test_env::pg().port) + "x");
    modal_answerer answers;
    answers.push(QMessageBox::Ok);
    press(QWizard::NextButton);
    ASSERT_TRUE(wait_until([&] { return answers.all_answered(); }));
    pump(30);
    EXPECT_EQ(current_idd(), 134);
    ASSERT_EQ(answers.seen().size(), 1u);
    EXPECT_EQ(answers.seen()[0].text, QStringLiteral("Invalid port number"));
    EXPECT_EQ(convertor().pgs_port, 0);

    type(pgs, 1015, std::to_string(test_env::pg().port));
    press(QWizard::NextButton);
    EXPECT_EQ(current_idd(), 106);
    EXPECT_EQ(convertor().pgs_port, test_env::pg().port);
}

TEST_F(connection_pages, ssl_dialog_follows_its_boxes_and_writes_the_six_settings_on_ok_only)
{
    to_mysql_page(true);
    press(QWizard::NextButton);
    ASSERT_EQ(current_idd(), 134);
    type_pg_settings();
    pgs_engine& engine = convertor().get_pgs_engine();
    engine.ssl_use = false;
    engine.ssl_auth = true;
    engine.ssl_ccert = L"/old/client.crt";

    auto enabled = [](QWidget* dlg, int id) {
        return find_control(dlg, wizard_page::ctrl_name(id))->isEnabled();
    };
    const std::string folder = config_folder();
    modal_answerer answers;
    answers.push([&](QWidget* dlg) {
        EXPECT_EQ(dlg->objectName(), QStringLiteral("dlg_137"));
        EXPECT_EQ(dlg->windowTitle(), QStringLiteral("PostgreSQL Advanced Settings"));
        // SSL off: both path groups and the authentication box are off.
        for (int id : {1003, 1103, 1004, 1107, 1203, 1005, 1104, 1006, 1105})
            EXPECT_FALSE(enabled(dlg, id)) << id;
        EXPECT_TRUE(find_control<QCheckBox>(dlg, QStringLiteral("ctl_1203"))->isChecked());
        EXPECT_EQ(find_control<QLineEdit>(dlg, QStringLiteral("ctl_1005"))->text(), QStringLiteral("/old/client.crt"));
        // One click is one toggle.
        click(dlg, 1202);
        EXPECT_TRUE(find_control<QCheckBox>(dlg, QStringLiteral("ctl_1202"))->isChecked());
        for (int id : {1003, 1103, 1004, 1107, 1203, 1005, 1104, 1006, 1105})
            EXPECT_TRUE(enabled(dlg, id)) << id;
        click(dlg, 1203);
        EXPECT_FALSE(find_control<QCheckBox>(dlg, QStringLiteral("ctl_1203"))->isChecked());
        for (int id : {1005, 1104, 1006, 1105})
            EXPECT_FALSE(enabled(dlg, id)) << id;
        click(dlg, 1203);
        find_control<QLineEdit>(dlg, QStringLiteral("ctl_1003"))->setText(QString::fromStdString(folder + "/root.crt"));
        find_control<QLineEdit>(dlg, QStringLiteral("ctl_1004"))->setText(QStringLiteral("/certs/crl.pem"));
        find_control<QLineEdit>(dlg, QStringLiteral("ctl_1005"))->setText(QStringLiteral("/certs/client.crt"));
        find_control<QLineEdit>(dlg, QStringLiteral("ctl_1006"))->setText(QStringLiteral("/certs/client.key"));
        save_picture(dlg, QStringLiteral("ssl_settings_dialog"));
        click(dlg, 1);
    });
    click(pgs, 1201);
    ASSERT_TRUE(answers.all_answered());
    EXPECT_TRUE(engine.ssl_use);
    EXPECT_EQ(engine.ssl_rcert, tk_utf8_to_unicode(folder + "/root.crt"));
    EXPECT_EQ(engine.ssl_revoc, L"/certs/crl.pem");
    EXPECT_TRUE(engine.ssl_auth);
    EXPECT_EQ(engine.ssl_ccert, L"/certs/client.crt");
    EXPECT_EQ(engine.ssl_clkey, L"/certs/client.key");

    // Cancel writes nothing. (A fresh answerer: the second dialog may reuse
    // the first one's address.)
    modal_answerer cancel_answers;
    cancel_answers.push([&](QWidget* dlg) {
        click(dlg, 1202);
        find_control<QLineEdit>(dlg, QStringLiteral("ctl_1004"))->setText(QStringLiteral("changed"));
        click(dlg, 2);
    });
    click(pgs, 1201);
    ASSERT_TRUE(cancel_answers.all_answered());
    EXPECT_TRUE(engine.ssl_use);
    EXPECT_EQ(engine.ssl_revoc, L"/certs/crl.pem");

    // The next connection uses them: the test server has no SSL.
    answers.push(QMessageBox::Ok);
    press(QWizard::NextButton);
    ASSERT_TRUE(wait_until([&] { return answers.all_answered(); }));
    pump(30);
    EXPECT_EQ(current_idd(), 134);
    ASSERT_EQ(answers.seen().size(), 2u);
    EXPECT_TRUE(answers.seen()[1].text.contains(QStringLiteral("SSL"))) << answers.seen()[1].text.toStdString();
}

TEST_F(connection_pages, welcome_page_loads_a_profile_and_reports_one_that_does_not_load)
{
    EXPECT_TRUE(find_control<QRadioButton>(welcome, QStringLiteral("ctl_1329"))->isChecked());
    save_picture(&shell(), QStringLiteral("welcome_page"));

    const std::string profile = config_folder() + "/script.pmr";
    std::ofstream(profile) << "[Selected Tables]\nitems\n\n[Selected Views]\nv=SELECT 1\n\n"
                              "[PostgreSQL Settings]\ndirect mode=0\n";
    EXPECT_TRUE(welcome->load_profile(tk_utf8_to_unicode(profile)));
    EXPECT_FALSE(convertor().b_direct);
    // Loaded again (the user picks the same profile twice): its lists replace the first ones.
    EXPECT_TRUE(welcome->load_profile(tk_utf8_to_unicode(profile)));
    ASSERT_EQ(convertor().query_list.size(), 1u);
    EXPECT_EQ(convertor().query_list[0].first, L"items");
    EXPECT_EQ(convertor().selected_views.size(), 1u);
    EXPECT_TRUE(find_control<QRadioButton>(welcome, QStringLiteral("ctl_1330"))->isChecked());

    const std::string not_a_profile = config_folder() + "/notes.txt";
    std::ofstream(not_a_profile) << "direct mode=1\n";
    modal_answerer answers;
    answers.push(QMessageBox::Ok);
    EXPECT_FALSE(welcome->load_profile(tk_utf8_to_unicode(not_a_profile)));
    ASSERT_TRUE(answers.all_answered());
    ASSERT_EQ(answers.seen().size(), 1u);
    EXPECT_EQ(answers.seen()[0].object_name, QStringLiteral("box_error"));
    EXPECT_TRUE(answers.seen()[0].text.contains(QString::fromStdString(not_a_profile)));
    EXPECT_FALSE(convertor().b_direct);

    // A profile that fails to load, whole or part way (a mode it may not
    // have), leaves the user's chosen tables, queries and views as they were.
    const std::string bad_mode = config_folder() + "/bad_mode.pmr";
    std::ofstream(bad_mode) << "[Selected Tables]\nother\n\n[Generic settings]\nmode=9\n";
    answers.push(QMessageBox::Ok);
    EXPECT_FALSE(welcome->load_profile(tk_utf8_to_unicode(bad_mode)));
    ASSERT_TRUE(answers.all_answered());
    EXPECT_TRUE(answers.seen().back().text.contains(QStringLiteral("mode"))) << answers.seen().back().text.toStdString();
    EXPECT_EQ(convertor().query_list, (udb_work_list{{L"items", L""}}));
    EXPECT_EQ(convertor().selected_views, (udb_work_list{{L"v", L"SELECT 1"}}));

    // The button's chooser, cancelled: nothing changes.
    answers.push([](QWidget* dlg) {
        EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Select Profile"));
        qobject_cast<QDialog*>(dlg)->reject();
    });
    click(welcome, 1115);
    ASSERT_TRUE(answers.all_answered());
    EXPECT_TRUE(find_control<QRadioButton>(welcome, QStringLiteral("ctl_1330"))->isChecked());
}

namespace {

// A port on 127.0.0.1 that refuses connections (bound, not listening), or
// one that takes them and never says a word (listening, never accepting: the
// system completes the handshake, the server's greeting never comes).
class dead_port {
public:
    explicit dead_port(bool silent)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), size) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &size) != 0 || (silent && ::listen(m_fd, 16) != 0))
            throw std::runtime_error("cannot make a dead port");
        m_port = ntohs(a.sin_port);
    }
    ~dead_port() { ::close(m_fd); }
    int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

struct unreachable_case {
    bool postgresql;  // the PostgreSQL page, else the MySQL page
    bool silent;
    const char* says;  // in the error box
};

std::ostream& operator<<(std::ostream& out, const unreachable_case& c)
{
    return out << (c.postgresql ? "postgresql" : "mysql") << (c.silent ? " silent" : " refusing");
}

class unreachable_host : public connection_pages, public ::testing::WithParamInterface<unreachable_case> {};

}  // namespace

// Connecting happens off the window thread: while a host does not answer,
// the window goes on serving events (it is disabled, Cancel is ignored), and
// the connect timeout ends the wait with a message that says what happened.
TEST_P(unreachable_host, never_freezes_the_window_and_says_why)
{
    const unreachable_case& c = GetParam();
    convertor().get_sql_engine().connect_timeout = 2;
    convertor().get_pgs_engine().connect_timeout = 2;
    to_mysql_page(true);
    dead_port dead(c.silent);
    wizard_page* page = mysql;
    if (c.postgresql) {
        press(QWizard::NextButton);
        ASSERT_EQ(current_idd(), 134);
        type_pg_settings();
        page = pgs;
    }
    type(page, 1015, std::to_string(dead.port()));

    // The longest time the window thread did not serve a 20 ms timer.
    QElapsedTimer since_tick;
    qint64 longest_gap = 0;
    bool seen_busy = false;
    QTimer ticker;
    ticker.setInterval(20);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longest_gap = std::max(longest_gap, since_tick.restart());
        if (!shell().isEnabled() && QApplication::overrideCursor()) {
            seen_busy = true;
            shell().reject();  // ignored while the page waits
        }
    });
    modal_answerer answers;
    answers.push(QMessageBox::Ok);
    since_tick.start();
    ticker.start();
    QElapsedTimer waited;
    waited.start();
    press(QWizard::NextButton);
    ASSERT_TRUE(wait_until([&] { return answers.all_answered(); }));
    ticker.stop();

    EXPECT_EQ(current_idd(), c.postgresql ? 134 : 123);
    EXPECT_TRUE(shell().isVisible());
    EXPECT_TRUE(shell().isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    ASSERT_EQ(answers.seen().size(), 1u);
    EXPECT_TRUE(answers.seen()[0].text.contains(QString::fromLatin1(c.says))) << answers.seen()[0].text.toStdString();
    if (c.silent) {
        EXPECT_TRUE(seen_busy);
        EXPECT_GE(waited.elapsed(), 1900);
    }
    // Served all along: a frozen window would show one gap of the whole wait.
    EXPECT_LT(longest_gap, 1000) << "waited " << waited.elapsed() << " ms";
}

INSTANTIATE_TEST_SUITE_P(
    ports, unreachable_host,
    ::testing::Values(unreachable_case{false, false, "Can't connect"},
                      unreachable_case{false, true, "did not answer within 2 seconds"},
                      unreachable_case{true, false, "Connection refused"},
                      unreachable_case{true, true, "did not answer within 2 seconds"}),
    [](const auto& info) {
        return std::string(info.param.postgresql ? "postgresql" : "mysql") + (info.param.silent ? "_silent" : "_refusing");
    });
