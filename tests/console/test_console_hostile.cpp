// The console program given hostile names and mistakes: nothing hidden in a name runs, the exit
// status tells what happened, and a destination is never destroyed by mistake.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "console_test_support.h"
#include "support/psql_load.h"

namespace {

using namespace console_test;
using strings = std::vector<std::string>;

class console_hostile_test : public ::testing::Test {
protected:
    strings names() const { return {"--src=" + src.name(), "--dest=" + dst.name()}; }
    strings live() const { return connection_options() + names(); }
    static strings mysql_only()
    {
        strings args = connection_options();
        args.resize(4);
        return args;
    }

    mysql_source src;
    pg_destination dst;
};

TEST_F(console_hostile_test, names_that_try_to_leave_a_script_comment_stay_inert_when_the_script_is_loaded)
{
    // Each name tries another way out of the comments that name it: closing the block comment,
    // opening a nested one (block comments nest), or a line break after which a -- comment ends.
    src.exec("CREATE TABLE `a*/ create table pwned_cmt(a int); /*b` (id INT PRIMARY KEY, v INT);"
             "INSERT INTO `a*/ create table pwned_cmt(a int); /*b` VALUES (1, 2);"
             "CREATE TABLE `c/*` (id INT);"
             "CREATE TABLE `n\ncreate table pwned_nl(a int); --` (id INT);"
             "CREATE TABLE `r\rcreate table pwned_cr(a int); --` (id INT);"
             "CREATE TABLE `*/*/` (id INT);");
    scratch dir;
    const std::string script = dir.file("out.sql");
    const run_result r = run_quindrel(mysql_only() + strings{"--src=" + src.name(), "--dest=" + script, "--dump"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    // What reaches the terminal holds no raw control character either.
    EXPECT_NE(r.out.find("Converting table n\\ncreate table pwned_nl(a int); -- (0 records)"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find('\r'), std::string::npos);

    dst.create();
    std::string psql_out;
    ASSERT_EQ(test_env::run_psql(dst.name(), script, psql_out), 0) << psql_out;
    EXPECT_EQ(dst.rows("SELECT tablename FROM pg_tables WHERE schemaname = 'public' ORDER BY tablename"),
              (strings{"*/*/", "a*/ create table pwned_cmt(a int); /*b", "c/*",
                       "n\ncreate table pwned_nl(a int); --", "r\rcreate table pwned_cr(a int); --"}));
    EXPECT_EQ(dst.value("SELECT v FROM \"a*/ create table pwned_cmt(a int); /*b\""), "2");
}

TEST_F(console_hostile_test, a_table_that_fails_makes_the_run_incomplete)
{
    // Merging into a table of another structure fails that table; the other arrives.
    src.exec("CREATE TABLE good (id INT PRIMARY KEY); INSERT INTO good VALUES (1);"
             "CREATE TABLE clash (id INT PRIMARY KEY, extra INT); INSERT INTO clash VALUES (1, 1);");
    dst.create();
    dst.exec("CREATE TABLE clash (other text)");
    const run_result r = run_quindrel(live() + strings{"--mode=3"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("clash: The structure of data source does not conform"), std::string::npos) << r.err;
    EXPECT_TRUE(r.err.ends_with("Conversion incomplete: 0 rows, 1 tables, 0 indexes, 0 foreign keys and 0 views "
                                "were not converted\n"))
        << r.err;
    EXPECT_EQ(dst.value("SELECT count(*) FROM good"), "1");
}

TEST_F(console_hostile_test, merge_into_a_table_without_a_key_says_so_once)
{
    src.exec("CREATE TABLE loose (v INT); INSERT INTO loose VALUES (1), (2), (3);"
             "CREATE TABLE keyed (id INT PRIMARY KEY); INSERT INTO keyed VALUES (1);");
    ASSERT_EQ(run_quindrel(live()).status, 0);
    for (const char* mode : {"--mode=3", "--mode=4"}) {
        const run_result r = run_quindrel(live() + strings{mode});
        // Rows were appended, not merged: the run says so once and counts it in its exit status.
        EXPECT_EQ(r.status, 1) << mode << r.out << r.err;
        const std::string note = "public.loose: The table has no primary or unique key to merge on: its rows were "
                                 "appended.\n";
        EXPECT_EQ(r.err, "Error:\n" + note +
                             "Conversion incomplete: 0 rows, 0 tables, 0 indexes, 0 foreign keys and 0 views were not "
                             "converted; 1 table's rows were appended, not merged (no key, or NULL in the key)\n")
            << mode;
    }
    EXPECT_EQ(dst.value("SELECT count(*) FROM loose"), "9");
    EXPECT_EQ(dst.value("SELECT count(*) FROM keyed"), "1");
}

// A table list of which the source has nothing, in a file or in a profile's selection.
TEST_F(console_hostile_test, mode_0_with_a_mistyped_table_list_leaves_the_destination_untouched)
{
    src.exec("CREATE TABLE orders (id INT PRIMARY KEY); INSERT INTO orders VALUES (1);");
    dst.create();
    dst.exec("CREATE TABLE kept (x int); INSERT INTO kept VALUES (42)");
    scratch dir;
    const std::string list = dir.write("tables.txt", "ordres\n");
    const std::string profile = dir.write("tables.pmr", "[Selected Tables]\nordres\n");
    for (const std::string& selection : {"--tab_file=" + list, "--profile=" + profile}) {
        SCOPED_TRACE(selection);
        const run_result r = run_quindrel(live() + strings{"--mode=0", selection});
        EXPECT_EQ(r.status, 255) << r.out << r.err;
        EXPECT_NE(r.err.find("None of the listed tables exists in the source database '" + src.name() +
                             "'. The destination was left unchanged."),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(dst.value("SELECT x FROM kept"), "42");

        // The same list for a script keeps the earlier script.
        const std::string script = dir.write("out.sql", "earlier script\n");
        const run_result d =
            run_quindrel(mysql_only() + strings{"--src=" + src.name(), "--dest=" + script, "--dump", selection});
        EXPECT_EQ(d.status, 255) << d.out << d.err;
        EXPECT_EQ(read_file(script), "earlier script\n");
    }
}

TEST_F(console_hostile_test, a_device_or_a_pipe_as_script_destination_is_refused_and_left_alone)
{
    src.exec("CREATE TABLE t (id INT); INSERT INTO t VALUES (1);");
    scratch dir;
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& dest : {fifo, std::string("/dev/full")}) {
        const run_result r = run_quindrel(mysql_only() + strings{"--src=" + src.name(), "--dest=" + dest, "--dump"});
        EXPECT_EQ(r.status, 255) << dest << r.out << r.err;
        EXPECT_NE(r.err.find("specifies a device, pipe or socket, not a file. It was left unchanged."),
                  std::string::npos)
            << r.err;
    }
    struct stat st {};
    ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(::stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    // Nothing was left beside the destination either.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST_F(console_hostile_test, a_mysql_password_with_blanks_at_its_ends_is_used_as_given)
{
    src.exec("CREATE TABLE t (id INT); INSERT INTO t VALUES (1);");
    const std::string user = test_env::unique_name("qcblank").substr(0, 30);
    src.exec("CREATE USER '" + user + "'@'%' IDENTIFIED BY ' pw '; GRANT ALL ON `" + src.name() + "`.* TO '" + user +
             "'@'%'");
    strings args = live();
    args[2] = "--mysqlu=" + user;
    args[3] = "--mysqlp= pw ";
    const run_result r = run_quindrel(args);
    src.exec("DROP USER '" + user + "'@'%'");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(dst.value("SELECT count(*) FROM t"), "1");
}

TEST_F(console_hostile_test, a_missing_ssl_file_is_an_error_before_connecting)
{
    src.exec("CREATE TABLE t (id INT);");
    for (const char* option : {"--ssl_root_cert=", "--ssl_revoc_list="}) {
        const run_result r = run_quindrel(live() + strings{std::string(option) + "/nonexistent/ca.pem"});
        EXPECT_EQ(r.status, 255) << option << r.out << r.err;
        EXPECT_EQ(r.out, "Destination: PostgreSQL database '" + dst.name() +
                             "' (mode 0: overwrite the entire database)\n"
                             "Connecting to MySQL server...done\nConnecting to Postgres server...");
        EXPECT_NE(r.err.find("'/nonexistent/ca.pem' cannot be read: No such file or directory"), std::string::npos)
            << r.err;
    }
    EXPECT_FALSE(dst.exists());
}

}  // namespace
