// Profiles of a conversion: every section written and read back, and the
// values a profile may not carry.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "SQL/sql_engine.h"
#include "TK/tk_log.h"
#include "UDB/udb_profile.h"
#include "driver/driver_test_support.h"
#include "driver/profile_sections.h"

namespace {

class profile_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir_template[] = "/tmp/qdrv_profileXXXXXX";
        ASSERT_NE(mkdtemp(dir_template), nullptr);
        dir = dir_template;
        path = dir + "/conversion.profile";
    }
    void TearDown() override
    {
        std::remove(path.c_str());
        std::remove((dir + "/trace.log").c_str());
        rmdir(dir.c_str());
    }
    std::wstring wpath() const { return tk_utf8_to_unicode(path); }
    std::string file_text() const
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::string dir;
    std::string path;
};

TEST_F(profile_test, every_section_is_stored_and_loaded_back)
{
    tk_logger logger(nullptr, false, 3, false);
    {
        pelmora_convertor c(convertor_form::console);
        c.set_source(L"shop");
        c.set_destination(L"shop_pg");
        c.set_logfile(dir + "/trace.log");
        c.skip_idx = true;
        c.tab_def = false;
        c.set_mode(4);
        c.query_list = {{L"rich", L"SELECT *\r\nFROM customers\nWHERE\rid > 1"}, {L"orders", L""}};
        c.available_queries = {{L"rich", L"SELECT * FROM customers WHERE id > 1"}};
        c.selected_views = {{L"v1", L"select 1 AS `a`"}};
        c.store_mysql_settings(" my.host ", "root", "p w'$", "3307");
        c.get_dump_options().line_break = 1;
        c.get_dump_options().create_database = true;
        c.pgs_host = "pg.host";
        c.pgs_user = "postgres";
        c.pgs_password = "secret";
        c.pgs_port = 5433;
        c.set_pgs_schema(L"sales");
        c.get_pgs_engine().fast_insert = true;
        c.get_pgs_engine().ssl_use = true;
        c.get_pgs_engine().ssl_rcert = L"/etc/ssl/root.crt";
        c.get_pgs_engine().ssl_auth = true;
        c.get_pgs_engine().is_case_sens = true;
        c.get_pgs_engine().unlogged = true;
        c.client_encoding = L"WIN1252";
        c.b_direct = false;
        pgs_native_type integer;
        integer.type = L"INTEGER";
        c.get_table_mutator2(L"items", L"goods")->update_field(L"code", L"code_num", integer);
        ASSERT_TRUE(c.store_profile_file(wpath()));
        // Storing leaves the conversion's own work list as it was.
        EXPECT_EQ(c.query_list.size(), 2u);
    }
    const std::string text = file_text();
    // The query stands on one line, before the table.
    EXPECT_NE(text.find("rich=SELECT * FROM customers WHERE id > 1\r\norders\r\n"), std::string::npos) << text;

    pelmora_convertor c(convertor_form::console);
    ASSERT_TRUE(c.load_profile_file(wpath()));
    EXPECT_EQ(c.get_source(), L"shop");
    EXPECT_EQ(c.get_destination(), L"shop_pg");
    EXPECT_EQ(c.get_logfile(), dir + "/trace.log");
    EXPECT_TRUE(c.skip_idx);
    EXPECT_FALSE(c.tab_def);
    EXPECT_EQ(c.get_mode(), 4);
    EXPECT_EQ(c.query_list,
              (udb_work_list{{L"rich", L"SELECT * FROM customers WHERE id > 1"}, {L"orders", L""}}));
    EXPECT_EQ(c.available_queries, (udb_work_list{{L"rich", L"SELECT * FROM customers WHERE id > 1"}}));
    EXPECT_EQ(c.selected_views, (udb_work_list{{L"v1", L"select 1 AS `a`"}}));
    EXPECT_EQ(c.mysql_host, "my.host");
    EXPECT_EQ(c.mysql_user, "root");
    EXPECT_EQ(c.mysql_password, "p w'$");
    EXPECT_EQ(c.mysql_port, "3307");
    EXPECT_EQ(c.get_dump_options().line_break, 1);
    EXPECT_TRUE(c.get_dump_options().create_database);
    EXPECT_TRUE(c.get_dump_options().new_version);
    EXPECT_EQ(c.pgs_host, "pg.host");
    EXPECT_EQ(c.pgs_user, "postgres");
    EXPECT_EQ(c.pgs_password, "secret");
    EXPECT_EQ(c.pgs_port, 5433);
    EXPECT_EQ(c.pgs_schema, L"sales");
    EXPECT_TRUE(c.get_pgs_engine().fast_insert);
    EXPECT_TRUE(c.get_pgs_engine().ssl_use);
    EXPECT_EQ(c.get_pgs_engine().ssl_rcert, L"/etc/ssl/root.crt");
    EXPECT_TRUE(c.get_pgs_engine().ssl_auth);
    EXPECT_FALSE(c.b_direct);
    // The naming reads the engine's flag: the profile sets it with the shown one.
    EXPECT_TRUE(c.b_case_sens);
    EXPECT_TRUE(c.get_pgs_engine().is_case_sens);
    EXPECT_TRUE(c.get_pgs_engine().unlogged);
    EXPECT_EQ(c.client_encoding, L"WIN1252");
    pgs_table_mutator* tm = c.get_table_mutator3(L"items");
    ASSERT_NE(tm, nullptr);
    EXPECT_EQ(tm->get_new_name(), L"goods");
    ASSERT_NE(tm->get_field_mutator(L"code"), nullptr);
    EXPECT_EQ(tm->get_field_mutator(L"code")->get_new_name(), L"code_num");

    // Loading it again adds the lists once more.
    ASSERT_TRUE(c.load_profile_file(wpath()));
    EXPECT_EQ(c.query_list.size(), 4u);
    EXPECT_EQ(c.available_queries.size(), 2u);
}

struct mode_case {
    const wchar_t* value;
    int expected;  // -1: refused
};

class profile_mode_test : public ::testing::TestWithParam<mode_case> {};

TEST_P(profile_mode_test, only_the_digits_0_to_4_are_a_mode)
{
    pelmora_convertor c(convertor_form::console);
    c.set_mode(2);
    udb_profile p;
    p.set_value(profile_generic, L"mode", GetParam().value);
    if (GetParam().expected < 0) {
        EXPECT_THROW(c.load_profile(p), tk_exception);
        EXPECT_EQ(c.get_mode(), 2);
    } else {
        EXPECT_TRUE(c.load_profile(p));
        EXPECT_EQ(c.get_mode(), GetParam().expected);
    }
}

INSTANTIATE_TEST_SUITE_P(values, profile_mode_test,
                         ::testing::Values(mode_case{L"0", 0}, mode_case{L"4", 4}, mode_case{L"", 2},
                                           mode_case{L"5", -1}, mode_case{L"/", -1}, mode_case{L"x", -1},
                                           mode_case{L"12", -1}, mode_case{L"-1", -1}),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(profile_values, set_mode_refuses_a_mode_outside_0_to_4)
{
    pelmora_convertor c(convertor_form::console);
    EXPECT_THROW(c.set_mode(5), tk_exception);
    EXPECT_THROW(c.set_mode(-1), tk_exception);
    EXPECT_EQ(c.get_mode(), 0);
}

TEST(profile_values, flags_and_missing_sections_read_as_the_rules_say)
{
    pelmora_convertor c(convertor_form::console);
    c.store_mysql_settings("host", "user", "pw", "3310");
    c.pgs_port = 5432;
    udb_profile p;
    p.set_value(profile_generic, L"only definitions", L"00");
    p.set_value(profile_generic, L"skip indexes", L"0");
    p.set_value(profile_pgs, L"use SSL", L"yes");
    ASSERT_TRUE(c.load_profile(p));
    EXPECT_TRUE(c.tab_def);    // anything but "0" switches it on
    EXPECT_FALSE(c.skip_idx);
    EXPECT_FALSE(c.get_pgs_engine().ssl_use);  // a flag is on only for "1"
    // A section the profile lacks leaves every setting of it as it was.
    EXPECT_EQ(c.mysql_host, "host");
    EXPECT_EQ(c.mysql_password, "pw");
    EXPECT_EQ(c.mysql_user, "user");
    EXPECT_EQ(c.mysql_port, "3310");
    EXPECT_EQ(c.pgs_port, 5432);

    // A key it has sets its setting, also to empty (the local server, no password); a key it
    // lacks leaves its setting.
    udb_profile q;
    q.set_value(profile_mysql, L"host", L"");
    ASSERT_TRUE(c.load_profile(q));
    EXPECT_EQ(c.mysql_host, "");
    EXPECT_EQ(c.mysql_password, "pw");
}

TEST(profile_values, a_postgresql_port_of_0_is_neither_written_nor_accepted)
{
    pelmora_convertor c(convertor_form::console);
    udb_profile stored;
    ASSERT_TRUE(c.store_profile(stored));
    EXPECT_EQ(stored.get_value(profile_pgs, L"port"), L"");
    udb_profile bad;
    bad.set_value(profile_pgs, L"port", L"abc");
    bad.set_value(profile_pgs, L"use SSL", L"1");
    try {
        c.load_profile(bad);
        FAIL() << "a port that reads as 0 is refused";
    } catch (const tk_exception& e) {
        EXPECT_STREQ(e.what(), "Invalid port number");
        EXPECT_EQ(e.get_level(), 1);
    }
    EXPECT_EQ(c.pgs_port, 0);
    EXPECT_FALSE(c.get_pgs_engine().ssl_use);  // the rest is not applied
}

// The switches that change the result come from the profile in the wizard
// too, whatever its remembered settings hold; an older profile without the
// newer keys gives the defaults there, while the console keeps its options.
TEST_F(profile_test, a_profile_decides_case_unlogged_and_encoding_in_both_programs)
{
    // The remembered settings in a folder of the test's own.
    struct config_home {
        std::string path, kept;
        bool had;
        explicit config_home(std::string p) : path(std::move(p))
        {
            const char* old = std::getenv("XDG_CONFIG_HOME");
            had = old != nullptr;
            kept = old ? old : "";
            std::filesystem::create_directories(path);
            setenv("XDG_CONFIG_HOME", path.c_str(), 1);
        }
        ~config_home()
        {
            if (had)
                setenv("XDG_CONFIG_HOME", kept.c_str(), 1);
            else
                unsetenv("XDG_CONFIG_HOME");
            std::filesystem::remove_all(path);
        }
    } home(dir + "/config");
    {
        pelmora_convertor remembered(convertor_form::wizard);
        remembered.get_pgs_engine().unlogged = true;
        remembered.client_encoding = L"LATIN1";
        remembered.b_case_sens = true;
    }  // stored when it goes

    udb_profile stored;
    stored.set_value(profile_generic, L"case_sens", L"0");
    stored.set_value(profile_pgs, L"unlogged tables", L"1");
    stored.set_value(profile_pgs, L"client encoding", L"latin2");
    udb_profile older;  // written before the two newer keys existed
    older.set_value(profile_generic, L"case_sens", L"1");
    {
        pelmora_convertor c(convertor_form::wizard);
        ASSERT_TRUE(c.get_pgs_engine().unlogged);  // the remembered values
        ASSERT_TRUE(c.load_profile(stored));
        EXPECT_FALSE(c.b_case_sens);
        EXPECT_FALSE(c.get_pgs_engine().is_case_sens);
        EXPECT_TRUE(c.get_pgs_engine().unlogged);
        EXPECT_EQ(c.client_encoding, L"ISO8859-2");
        ASSERT_TRUE(c.load_profile(older));
        EXPECT_TRUE(c.get_pgs_engine().is_case_sens);
        EXPECT_FALSE(c.get_pgs_engine().unlogged);
        EXPECT_EQ(c.client_encoding, L"UTF8");
    }
    {
        pelmora_convertor c(convertor_form::console);
        c.get_pgs_engine().unlogged = true;  // --unlogged before --profile
        c.client_encoding = L"WIN1250";
        ASSERT_TRUE(c.load_profile(older));
        EXPECT_TRUE(c.get_pgs_engine().is_case_sens);
        EXPECT_TRUE(c.get_pgs_engine().unlogged);
        EXPECT_EQ(c.client_encoding, L"WIN1250");
    }
}

TEST(profile_values, a_client_encoding_the_program_does_not_offer_is_refused)
{
    pelmora_convertor c(convertor_form::console);
    udb_profile p;
    p.set_value(profile_pgs, L"client encoding", L"EBCDIC");
    p.set_value(profile_pgs, L"unlogged tables", L"1");
    try {
        c.load_profile(p);
        FAIL() << "an unknown encoding is refused";
    } catch (const tk_exception& e) {
        EXPECT_NE(std::string(e.what()).find("EBCDIC"), std::string::npos) << e.what();
        EXPECT_EQ(e.get_level(), 1);
    }
    EXPECT_EQ(c.client_encoding, L"UTF8");
    EXPECT_FALSE(c.get_pgs_engine().unlogged);  // nothing after it is applied
}

TEST(profile_values, a_missing_profile_file_is_reported)
{
    pelmora_convertor c(convertor_form::console);
    EXPECT_THROW(c.load_profile_file(L"/tmp/qdrv_no_such_dir/none.profile"), tk_exception);
}

TEST(profile_values, query_texts_are_kept_on_one_line)
{
    EXPECT_EQ(profile_one_line(L"a\r\nb\nc\rd\r\n"), L"a b c d ");
}

// The halves' connection settings, without a server.
TEST(convertor_halves, mysql_host_and_port_are_trimmed_the_password_kept_and_an_empty_port_is_3306)
{
    pelmora_convertor c(convertor_form::console);
    c.store_mysql_settings("  db.example  ", " u ", " pass word ", "");
    EXPECT_EQ(c.mysql_host, "db.example");
    EXPECT_EQ(c.mysql_user, "u");
    EXPECT_EQ(c.mysql_password, " pass word ");
    EXPECT_EQ(c.mysql_port, "3306");
}

TEST(convertor_halves, port_texts_read_as_numbers)
{
    EXPECT_EQ(mysql_converter_impl::parse_port(" 3307abc"), 3307);
    EXPECT_EQ(mysql_converter_impl::parse_port("+12"), 12);
    EXPECT_EQ(mysql_converter_impl::parse_port("abc"), 0);
    EXPECT_EQ(mysql_converter_impl::parse_port("99999999999999999999"), 0);
    pelmora_convertor c(convertor_form::console);
    c.mysql_port = "port";
    try {
        c.connect_mysql_server();
        FAIL();
    } catch (const tk_exception& e) {
        EXPECT_STREQ(e.what(), "Invalid port number");
        EXPECT_EQ(e.get_level(), 1);
    }
}

TEST(convertor_object, a_fresh_console_convertor_has_the_defaults)
{
    pelmora_convertor c(convertor_form::console);
    EXPECT_EQ(pelmora_convertor::get_instance(), &c);
    EXPECT_EQ(c.get_mode(), 0);
    EXPECT_TRUE(c.selected_tables.empty());
    EXPECT_TRUE(c.query_list.empty());
    EXPECT_TRUE(c.b_direct);
    EXPECT_EQ(c.pgs_schema, L"public");
    EXPECT_EQ(c.client_encoding, L"UTF8");
    EXPECT_EQ(c.mysql_port, "3306");
    EXPECT_FALSE(c.get_pgs_engine().fast_insert);
    EXPECT_EQ(c.outcome(), conversion_outcome::not_run);
    EXPECT_EQ(&c.get_sql_engine(), sql_engine::try_instance());
}

TEST(convertor_object, deleting_through_any_base_destroys_the_object_once)
{
    {
        std::unique_ptr<mysql_converter_impl> p = std::make_unique<pelmora_convertor>();
    }
    EXPECT_EQ(pelmora_convertor::try_instance(), nullptr);
    {
        std::unique_ptr<pgs_db_mutator> p = std::make_unique<pelmora_convertor>();
    }
    EXPECT_EQ(pgs_engine::try_instance(), nullptr);
    {
        std::unique_ptr<udb_converter> p = std::make_unique<pelmora_convertor>();
    }
    EXPECT_EQ(sql_engine::try_instance(), nullptr);
}

}  // namespace
