// The console program as users run it, on the real servers: profiles written by hand, lists
// and logs on odd paths, names the server would cut, and destinations that hold objects of the
// user's own (a view, a foreign key of another table). Each case gives the command line, the
// exit status, what standard error says and what the destination holds afterwards; what the
// user made there must be untouched whenever the run does not own it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "console_test_support.h"

namespace {

using namespace console_test;
using strings = std::vector<std::string>;
using checks = std::vector<std::pair<std::string, strings>>;

const char* const source_orders = "CREATE TABLE orders (id INT PRIMARY KEY, item VARCHAR(20));"
                                  "INSERT INTO orders VALUES (1, 'from mysql'), (2, 'new');";

// The destination as the user left it: an earlier orders with a row of its own, the user's view
// on it and the user's table whose foreign key points at it.
const char* const users_destination = "CREATE TABLE orders (id INTEGER PRIMARY KEY, item TEXT);"
                                      "INSERT INTO orders VALUES (1, 'kept');"
                                      "CREATE VIEW user_view AS SELECT id FROM orders;"
                                      "CREATE TABLE user_lines (order_id INTEGER REFERENCES orders(id));"
                                      "INSERT INTO user_lines VALUES (1);";

const checks untouched = {
    {"SELECT id || '|' || item FROM orders ORDER BY id", {"1|kept"}},
    {"SELECT viewname FROM pg_views WHERE schemaname = 'public'", {"user_view"}},
    {"SELECT conname FROM pg_constraint WHERE contype = 'f'", {"user_lines_order_id_fkey"}},
};

checks with(checks a, const checks& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const checks merged_and_users_objects_kept = {
    {"SELECT id || '|' || item FROM orders ORDER BY id", {"1|kept", "2|new"}},
    {"SELECT viewname FROM pg_views WHERE schemaname = 'public'", {"user_view"}},
    {"SELECT conname FROM pg_constraint WHERE contype = 'f'", {"user_lines_order_id_fkey"}},
};

struct console_case {
    const char* name;
    std::string source_sql;
    std::string dest_sql;  // "": no destination database before the run
    std::vector<std::pair<std::string, std::string>> files;  // written into the scratch folder
    strings args;         // after the connection options
    int status;
    strings err_has;      // texts standard error holds
    strings err_lacks;    // texts it must not hold
    std::string out_starts;
    checks after;         // queries on the destination and their rows
    bool other_untouched = false;  // a second database (named by {other}) keeps its marker row
};
std::ostream& operator<<(std::ostream& os, const console_case& c) { return os << c.name; }

class console_case_test : public ::testing::TestWithParam<console_case> {
protected:
    // {src}, {dst}, {other} and {dir} become the test's own names.
    std::string fill(std::string text) const
    {
        const std::pair<std::string, std::string> names[] = {
            {"{src}", src.name()}, {"{dst}", dst.name()}, {"{other}", other.name()}, {"{dir}", dir.path()}};
        for (const auto& [key, value] : names)
            for (std::size_t at; (at = text.find(key)) != std::string::npos;)
                text.replace(at, key.size(), value);
        return text;
    }

    mysql_source src;
    pg_destination dst;
    pg_destination other{"qcother"};
    scratch dir;
};

TEST_P(console_case_test, runs_as_the_user_asked_and_leaves_the_rest_alone)
{
    const console_case& c = GetParam();
    src.exec(c.source_sql);
    if (!c.dest_sql.empty()) {
        dst.create();
        dst.exec(c.dest_sql);
    }
    if (c.other_untouched) {
        other.create();
        other.exec("CREATE TABLE marker (x INT); INSERT INTO marker VALUES (1)");
    }
    for (const auto& [file, text] : c.files)
        dir.write(file, fill(text));
    strings args = connection_options();
    for (const std::string& a : c.args)
        args.push_back(fill(a));

    const run_result r = run_quindrel(args);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    for (const std::string& text : c.err_has)
        EXPECT_NE(r.err.find(fill(text)), std::string::npos) << text << "\n" << r.err;
    for (const std::string& text : c.err_lacks)
        EXPECT_EQ(r.err.find(fill(text)), std::string::npos) << text << "\n" << r.err;
    EXPECT_TRUE(r.out.starts_with(fill(c.out_starts))) << r.out;
    for (const auto& [query, rows] : c.after)
        EXPECT_EQ(dst.rows(query), rows) << query;
    if (c.other_untouched) {
        EXPECT_EQ(other.rows("SELECT count(*) FROM marker"), strings{"1"});
    }
}

INSTANTIATE_TEST_SUITE_P(
    cases, console_case_test,
    ::testing::Values(
        // A profile written by hand: its comment is read past, the command line's connection
        // settings stand beside a profile without connection sections, and its mode is used.
        console_case{"profile_with_a_comment_line_merges",
                     source_orders,
                     users_destination,
                     {{"merge.pmr", "; merge into the destination, written by hand\n[Generic settings]\nmode=3\n"}},
                     {"--src={src}", "--dest={dst}", "--profile={dir}/merge.pmr"},
                     0,
                     {},
                     {"Error"},
                     "Destination: PostgreSQL database '{dst}' (mode 3: merge)\n",
                     merged_and_users_objects_kept},
        console_case{"profile_that_is_not_utf8_text_touches_nothing",
                     source_orders,
                     users_destination,
                     {{"wide.pmr", std::string("\xFF\xFE[\0G\0e\0", 8)}},
                     {"--src={src}", "--dest={dst}", "--profile={dir}/wide.pmr"},
                     255,
                     {"The profile '{dir}/wide.pmr' cannot be loaded: it is UTF-16 text"},
                     {},
                     "",
                     untouched},
        console_case{"options_win_over_the_profile_whatever_their_order",
                     source_orders,
                     users_destination,
                     {{"p.pmr", "[Generic settings]\ndest={other}\nmode=0\n"}},
                     {"--src={src}", "--dest={dst}", "--mode=3", "--profile={dir}/p.pmr"},
                     0,
                     {},
                     {},
                     "Destination: PostgreSQL database '{dst}' (mode 3: merge)\n",
                     merged_and_users_objects_kept,
                     true},
        // Overwriting drops only what the run converts: the user's view and foreign key keep
        // the table, and the server names them.
        console_case{"mode_1_refuses_to_drop_what_the_user_built_on_a_table",
                     source_orders,
                     users_destination,
                     {},
                     {"--src={src}", "--dest={dst}", "--mode=1"},
                     1,
                     {"orders: Cannot overwrite table public.orders (it was left as it was): ",
                      "view user_view depends on table orders",
                      "constraint user_lines_order_id_fkey on table user_lines depends on table orders",
                      "Conversion incomplete: 0 rows, 1 tables"},
                     {},
                     "",
                     untouched},
        console_case{"device_as_table_list_touches_nothing",
                     source_orders,
                     users_destination,
                     {},
                     {"--src={src}", "--dest={dst}", "--tab_file=/dev/zero"},
                     255,
                     {"Table names file cannot be read: /dev/zero: it is not a regular file"},
                     {},
                     "",
                     untouched},
        console_case{"log_that_cannot_be_written_touches_nothing",
                     source_orders,
                     users_destination,
                     {},
                     {"--src={src}", "--dest={dst}", "--logfile=/dev/full"},
                     255,
                     {"The log file cannot be written: '/dev/full': No space left on device"},
                     {},
                     "",
                     untouched},
        console_case{"schema_name_the_server_would_cut_touches_nothing",
                     source_orders,
                     users_destination,
                     {},
                     {"--src={src}", "--dest={dst}", "--schema=" + std::string(64, 's')},
                     255,
                     {"The PostgreSQL schema name '" + std::string(64, 's') + "' is 64 bytes long"},
                     {},
                     "",
                     untouched},
        // On a server that keeps the case MIXEDCASE is no table of the source; a blank at
        // the end of a line is a slip.
        console_case{"listed_names_are_the_sources_or_reported",
                     std::string(source_orders) + "CREATE TABLE MixedCase (id INT);",
                     users_destination,
                     {{"tables.txt", "MIXEDCASE\norders \n"}},
                     {"--src={src}", "--dest={dst}", "--case_sens", "--mode=3", "--tab_file={dir}/tables.txt"},
                     1,
                     {"Error:\nTable 'MIXEDCASE' does not exist in the source database '{src}'\n",
                      "Conversion incomplete: 0 rows, 1 tables"},
                     {},
                     "",
                     with(merged_and_users_objects_kept,
                          {{"SELECT count(*) FROM pg_tables WHERE lower(tablename) = 'mixedcase'", {"0"}}})},
        console_case{"profile_case_rule_is_applied",
                     "CREATE TABLE MixedCase (Id INT); INSERT INTO MixedCase VALUES (7);",
                     "",
                     {{"case.pmr", "[Generic settings]\r\ncase_sens=1\r\n"}},
                     {"--src={src}", "--dest={dst}", "--profile={dir}/case.pmr"},
                     0,
                     {},
                     {},
                     "",
                     {{"SELECT \"Id\" FROM \"MixedCase\"", {"7"}}}},
        // Only what happened: the key column stays NOT NULL and refuses the rows.
        console_case{"zero_dates_in_a_date_key_are_refused_rows_only",
                     "SET sql_mode = ''; CREATE TABLE zt (d DATE PRIMARY KEY, v INT);"
                     "INSERT INTO zt VALUES ('0000-00-00', 1), ('2020-01-01', 2);",
                     "",
                     {},
                     {"--src={src}", "--dest={dst}"},
                     1,
                     {"zt, record #1: ", "Conversion incomplete: 1 rows, 0 tables"},
                     {"stays nullable", "column default or property"},
                     "",
                     {{"SELECT is_nullable FROM information_schema.columns WHERE table_name = 'zt' AND "
                       "column_name = 'd'",
                       {"NO"}},
                      {"SELECT d || '|' || v FROM zt", {"2020-01-01|2"}}}},
        // A table of another structure cannot take the rows: one report, nothing appended.
        console_case{"merge_into_another_structure_is_one_report",
                     "CREATE TABLE t (a INT, b VARCHAR(10)); INSERT INTO t VALUES (1, 'x');",
                     "CREATE TABLE t (x INT, y TEXT)",
                     {},
                     {"--src={src}", "--dest={dst}", "--mode=3"},
                     1,
                     {"t: The structure of data source does not conform to the destination table."},
                     {"appended"},
                     "",
                     {{"SELECT count(*) FROM t", {"0"}}}}),
    [](const auto& info) { return std::string(info.param.name); });

class console_names_test : public ::testing::Test {
protected:
    mysql_source src;
    scratch dir;
};

// The server keeps 63 bytes of a name: a 64-byte destination would be the database named by
// its first 63 bytes.
TEST_F(console_names_test, a_database_name_the_server_would_cut_is_refused_before_anything_is_dropped)
{
    src.exec(source_orders);
    std::string name = test_env::unique_name("qclong");
    name.resize(63, 'x');
    {
        pqxx::connection c(test_env::pg_conninfo("postgres"));
        pqxx::nontransaction t(c);
        t.exec("CREATE DATABASE " + t.quote_name(name));
    }
    struct drop_at_end {
        std::string name;
        ~drop_at_end()
        {
            try {
                pqxx::connection c(test_env::pg_conninfo("postgres"));
                pqxx::nontransaction t(c);
                t.exec("DROP DATABASE IF EXISTS " + t.quote_name(name) + " WITH (FORCE)");
            } catch (...) {
            }
        }
    } guard{name};
    {
        pqxx::connection c(test_env::pg_conninfo(name));
        pqxx::nontransaction t(c);
        t.exec("CREATE TABLE marker (x INT); INSERT INTO marker VALUES (1)");
    }
    const run_result r = run_quindrel(connection_options() + strings{"--src=" + src.name(), "--dest=" + name + "y"});
    EXPECT_EQ(r.status, 255) << r.out << r.err;
    EXPECT_NE(r.err.find("The PostgreSQL database name '" + name + "y' is 64 bytes long"), std::string::npos)
        << r.err;
    pqxx::connection c(test_env::pg_conninfo(name));
    pqxx::nontransaction t(c);
    EXPECT_EQ(t.exec("SELECT count(*) FROM marker")[0][0].as<std::string>(), "1");
}

// --dump given before or after a profile that says "live" writes the script, and the profile's
// database is not touched.
TEST_F(console_names_test, dump_on_the_command_line_wins_over_a_live_profile)
{
    src.exec(source_orders);
    pg_destination profile_db;
    profile_db.create();
    profile_db.exec("CREATE TABLE marker (x INT); INSERT INTO marker VALUES (1)");
    const std::string profile =
        dir.write("live.pmr", "[Generic settings]\ndest=" + profile_db.name() + "\n[PostgreSQL Settings]\ndirect mode=1\n");
    const std::string script = dir.file("out.sql");
    const run_result r = run_quindrel(connection_options() + strings{"--dump", "--src=" + src.name(), "--dest=" + script,
                                                                     "--profile=" + profile});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(r.out.starts_with("Destination: script file '" + script + "' (mode 0: overwrite the entire database)\n"))
        << r.out;
    EXPECT_NE(read_file(script).find("orders"), std::string::npos);
    EXPECT_EQ(profile_db.rows("SELECT count(*) FROM marker"), strings{"1"});
}

// Overwriting its own earlier conversion, the run takes along the foreign keys and views it
// makes again (a parent before its child, a view on a view) and nothing else.
TEST_F(console_names_test, mode_1_over_its_own_earlier_conversion_makes_keys_and_views_again)
{
    src.exec("CREATE TABLE a (id INT PRIMARY KEY, v VARCHAR(10)); CREATE TABLE b (id INT PRIMARY KEY, aid INT,"
             " FOREIGN KEY (aid) REFERENCES a(id)); INSERT INTO a VALUES (1, 'one'); INSERT INTO b VALUES (10, 1);"
             "CREATE VIEW va AS SELECT id FROM a; CREATE VIEW vva AS SELECT id FROM va;");
    pg_destination dst;
    const strings args = connection_options() + strings{"--src=" + src.name(), "--dest=" + dst.name(), "--views"};
    ASSERT_EQ(run_quindrel(args).status, 0);
    dst.exec("INSERT INTO a VALUES (2, 'pg only')");
    const run_result r = run_quindrel(args + strings{"--mode=1"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(dst.rows("SELECT id FROM a ORDER BY id"), strings{"1"});
    EXPECT_EQ(dst.rows("SELECT count(*) FROM vva"), strings{"1"});
    EXPECT_EQ(dst.rows("SELECT count(*) FROM pg_constraint WHERE contype = 'f'"), strings{"1"});
}

// A child the run must leave as it was (the user's view stands on it) loses its key to the
// parent the run replaces: the key is made again, or reported when its old rows no longer fit.
TEST_F(console_names_test, mode_1_makes_again_the_key_of_a_child_it_had_to_keep)
{
    src.exec("CREATE TABLE p (id INT PRIMARY KEY); CREATE TABLE c (id INT PRIMARY KEY, pid INT,"
             " FOREIGN KEY (pid) REFERENCES p(id)); INSERT INTO p VALUES (1), (2); INSERT INTO c VALUES (10, 1);");
    pg_destination dst;
    const strings args = connection_options() + strings{"--src=" + src.name(), "--dest=" + dst.name()};
    ASSERT_EQ(run_quindrel(args).status, 0);
    dst.exec("CREATE VIEW users_view AS SELECT * FROM c");
    const char* const keys = "SELECT conname FROM pg_constraint WHERE contype = 'f'";
    const strings before = dst.rows(keys);
    ASSERT_EQ(before.size(), 1u);

    run_result r = run_quindrel(args + strings{"--mode=1"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(dst.rows(keys), before) << r.err;

    // The parent's new rows no longer hold the child's old reference: the key is reported.
    src.exec("DELETE FROM c; DELETE FROM p WHERE id = 1");
    r = run_quindrel(args + strings{"--mode=1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Foreign key '" + before[0] + "' of table"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("1 foreign keys"), std::string::npos) << r.err;
    EXPECT_EQ(dst.rows("SELECT pid FROM c"), strings{"1"});
}

// A child the run must leave as it was loses, with the parent the run replaces, every key to
// it: the source's key is made again, but one the source does not have (the user's own), and
// with --skip_idx any, is named and counted, live and when the script is loaded.
TEST_F(console_names_test, mode_1_names_the_keys_a_child_it_had_to_keep_lost)
{
    src.exec("CREATE TABLE p (id INT PRIMARY KEY); CREATE TABLE c (id INT PRIMARY KEY, pid INT,"
             " CONSTRAINT c_p FOREIGN KEY (pid) REFERENCES p(id)); INSERT INTO p VALUES (1); INSERT INTO c VALUES (10, 1);");
    const char* const keys = "SELECT conname FROM pg_constraint WHERE contype = 'f' ORDER BY 1";
    for (const bool live : {true, false})
        for (const bool skip_idx : {false, true}) {
            SCOPED_TRACE(std::string(live ? "live" : "script") + (skip_idx ? " --skip_idx" : ""));
            pg_destination dst;
            ASSERT_EQ(run_quindrel(connection_options() + strings{"--src=" + src.name(), "--dest=" + dst.name()}).status,
                      0);
            dst.exec("CREATE VIEW users_view AS SELECT * FROM c; ALTER TABLE c ADD COLUMN pid2 integer"
                     " CONSTRAINT users_key REFERENCES p (id)");
            const std::string script = dir.file("m1.sql");
            strings args = connection_options() + strings{"--src=" + src.name(), "--mode=1"} +
                           (live ? strings{"--dest=" + dst.name()} : strings{"--dest=" + script, "--dump"});
            if (skip_idx) args.push_back("--skip_idx");
            const run_result r = run_quindrel(args);
            std::string said = r.err;
            if (live) {
                EXPECT_EQ(r.status, 1) << r.out << r.err;
                EXPECT_NE(r.err.find(skip_idx ? "0 indexes, 2 foreign keys" : "0 indexes, 1 foreign keys"),
                          std::string::npos)
                    << r.err;
            } else {
                ASSERT_EQ(r.status, 0) << r.out << r.err;
                const auto pg = test_env::pg();
                const char* bin = std::getenv("TEST_PG_BIN");
                setenv("PGPASSWORD", pg.password.c_str(), 1);
                const std::string command = (bin ? std::string(bin) + "/psql" : std::string("psql")) +
                                            " -q -X -v ON_ERROR_STOP=1 -h " + pg.host + " -p " +
                                            std::to_string(pg.port) + " -U " + pg.user + " -d " + dst.name() +
                                            " -f " + script + " >" + dir.file("psql.out") + " 2>&1";
                EXPECT_EQ(std::system(command.c_str()), 0);
                said = read_file(dir.file("psql.out"));
            }
            const std::string lost = live ? "' of table 'public.c': It was dropped with the table it refers to"
                                          : "' of table 'public.c' was dropped with the table it refers to";
            EXPECT_NE(said.find("Foreign key 'users_key" + lost), std::string::npos) << said;
            EXPECT_EQ(said.find("Foreign key 'c_p" + lost) != std::string::npos, skip_idx) << said;
            EXPECT_EQ(dst.rows(keys), skip_idx ? strings{} : strings{"c_p"});
            EXPECT_EQ(dst.rows("SELECT id FROM c"), strings{"10"});
        }
}

// Merging one table of an earlier full conversion: its key to a table the run leaves out
// stands there, so nothing is left out; a table the run makes itself has no such key.
TEST_F(console_names_test, a_merge_of_one_table_finds_its_key_to_a_table_left_out_in_place)
{
    src.exec("CREATE TABLE p (id INT PRIMARY KEY); CREATE TABLE c (id INT PRIMARY KEY, pid INT,"
             " CONSTRAINT c_p FOREIGN KEY (pid) REFERENCES p(id)); INSERT INTO p VALUES (1); INSERT INTO c VALUES (10, 1);");
    const std::string list = dir.write("c.txt", "c\n");
    pg_destination dst;
    const strings args = connection_options() + strings{"--src=" + src.name(), "--dest=" + dst.name()};
    ASSERT_EQ(run_quindrel(args).status, 0);
    for (const char* mode : {"--mode=3", "--mode=4", "--mode=1"}) {
        SCOPED_TRACE(mode);
        const run_result r = run_quindrel(args + strings{mode, "--tab_file=" + list});
        const bool made_anew = std::string(mode) == "--mode=1";
        EXPECT_EQ(r.status, made_anew ? 1 : 0) << r.out << r.err;
        EXPECT_EQ(r.err.find("Foreign key 'c_p' of table 'c': The referenced table 'p' was not converted") !=
                      std::string::npos,
                  made_anew)
            << r.err;
    }
}

// A view of an earlier full conversion that also reads a table this run leaves out cannot be
// made again: mode 1 keeps it, and with it the table it reads, live and by script, instead of
// dropping it with the table and then refusing it.
TEST_F(console_names_test, mode_1_keeps_a_view_that_reads_a_table_it_leaves_out)
{
    src.exec("CREATE TABLE a (id INT PRIMARY KEY, v VARCHAR(10)); CREATE TABLE b (id INT PRIMARY KEY, w VARCHAR(10));"
             "INSERT INTO a VALUES (1, 'one'); INSERT INTO b VALUES (1, 'uno');"
             "CREATE VIEW va AS SELECT id, v FROM a;"
             "CREATE VIEW vab AS SELECT a.id, a.v, b.w FROM a JOIN b ON b.id = a.id;"
             "CREATE VIEW vvab AS SELECT id FROM vab;");
    const std::string list = dir.write("a.txt", "a\n");
    const char* const views = "SELECT viewname FROM pg_views WHERE schemaname = 'public' ORDER BY 1";
    for (const bool live : {true, false}) {
        SCOPED_TRACE(live ? "live" : "script");
        pg_destination dst;
        ASSERT_EQ(run_quindrel(connection_options() + strings{"--src=" + src.name(), "--dest=" + dst.name(), "--views"})
                      .status,
                  0);
        dst.exec("INSERT INTO a VALUES (2, 'pg only')");
        const strings args = strings{"--src=" + src.name(), "--views", "--mode=1", "--tab_file=" + list};
        const std::string script = dir.file("m1.sql");
        const run_result r = run_quindrel(connection_options() + args +
                                          (live ? strings{"--dest=" + dst.name()} : strings{"--dest=" + script, "--dump"}));
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_NE(r.err.find("View 'vab': The view cannot be converted: it reads 'b'"), std::string::npos) << r.err;
        std::string loaded;
        if (live) {
            EXPECT_NE(r.err.find("a: Cannot overwrite table public.a (it was left as it was): "), std::string::npos)
                << r.err;
            EXPECT_NE(r.err.find("view vab depends on table a"), std::string::npos) << r.err;
        } else {
            const auto pg = test_env::pg();
            const char* bin = std::getenv("TEST_PG_BIN");
            setenv("PGPASSWORD", pg.password.c_str(), 1);
            const std::string command = (bin ? std::string(bin) + "/psql" : std::string("psql")) +
                                        " -q -X -v ON_ERROR_STOP=1 -h " + pg.host + " -p " + std::to_string(pg.port) +
                                        " -U " + pg.user + " -d " + dst.name() + " -f " + script + " >" +
                                        dir.file("psql.out") + " 2>&1";
            EXPECT_EQ(std::system(command.c_str()), 0);
            loaded = read_file(dir.file("psql.out"));
            EXPECT_NE(loaded.find("WARNING:  Table 'public.a' was not overwritten"), std::string::npos) << loaded;
            EXPECT_NE(loaded.find("view vab depends on table a"), std::string::npos) << loaded;
        }
        // The views stand as they were, the table keeps its rows.
        EXPECT_EQ(dst.rows(views), (strings{"va", "vab", "vvab"})) << loaded;
        EXPECT_EQ(dst.rows("SELECT id FROM vab ORDER BY id"), strings{"1"});
        EXPECT_EQ(dst.rows("SELECT id FROM a ORDER BY id"), (strings{"1", "2"}));
    }
}

}  // namespace
