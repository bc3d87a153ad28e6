// The built console program against the real servers: what it prints, what it
// returns and what lands in PostgreSQL.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "console/console_options.h"
#include "console_test_support.h"

namespace {

using namespace console_test;
using strings = std::vector<std::string>;

// Two tables with keys, indexes, NULLs, non-ASCII text, control characters,
// quotes, binary values and a gap in the ids.
const char* sample_schema = R"sql(
CREATE TABLE customers (
  id INT AUTO_INCREMENT PRIMARY KEY,
  name VARCHAR(100) NOT NULL,
  email VARCHAR(200),
  balance DECIMAL(12,2),
  created DATETIME,
  note TEXT,
  photo BLOB,
  UNIQUE KEY uq_email (email),
  KEY ix_name (name));
INSERT INTO customers VALUES
  (1, 'Zoë Ångström', 'zoe@example.org', 12.50, '2024-01-02 03:04:05', 'tab\there\\back\nline', X'00FF10'),
  (2, 'Bob', NULL, NULL, NULL, NULL, NULL),
  (7, 'O''Brien', 'ob@x.y', -0.01, '1999-12-31 23:59:59', '日本語', X'');
CREATE TABLE orders (
  order_id BIGINT AUTO_INCREMENT PRIMARY KEY,
  customer_id INT NOT NULL,
  amount DOUBLE,
  KEY ix_cust (customer_id));
INSERT INTO orders VALUES (1, 1, 3.25), (2, 7, NULL);
)sql";

const strings expected_customers = {
    "1|Zoë Ångström|zoe@example.org|12.50|2024-01-02 03:04:05|tab\there\\back\nline|00ff10",
    "2|Bob|<null>|<null>|<null>|<null>|<null>",
    "7|O'Brien|ob@x.y|-0.01|1999-12-31 23:59:59|日本語|",
};

const char* customers_query =
    "SELECT id, name, email, balance::text, to_char(created, 'YYYY-MM-DD HH24:MI:SS'), note, "
    "encode(photo, 'hex') FROM customers ORDER BY id";

class console_program_test : public ::testing::Test {
protected:
    strings names() const { return {"--src=" + src.name(), "--dest=" + dst.name()}; }
    // The run's first line for the test's own destination database.
    std::string first_line(int mode = 0) const
    {
        static const char* const names[] = {"overwrite the entire database", "overwrite existing tables",
                                            "skip existing tables", "merge", "synchronize"};
        return "Destination: PostgreSQL database '" + dst.name() + "' (mode " + std::to_string(mode) + ": " +
               names[mode] + ")\n";
    }
    strings live() const { return connection_options() + names(); }
    void load_sample() { src.exec(sample_schema); }

    mysql_source src;
    pg_destination dst;
};

TEST_F(console_program_test, full_live_run_prints_its_progress_and_copies_rows_keys_and_indexes)
{
    load_sample();
    const run_result r = run_quindrel(live());
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, first_line() + "Connecting to MySQL server...done\n"
                     "Connecting to Postgres server...done\n"
                     "Converting database '" + src.name() + "' (2 tables)\n"
                     "Converting table customers (3 records)\n\n"
                     "Converting table orders (2 records)\n\n");

    EXPECT_EQ(dst.rows(customers_query), expected_customers);
    EXPECT_EQ(dst.rows("SELECT order_id, customer_id, amount FROM orders ORDER BY 1"),
              (strings{"1|1|3.25", "2|7|<null>"}));
    // Keys and indexes, by what they do.
    EXPECT_EQ(dst.rows("SELECT a.attname FROM pg_index i JOIN pg_attribute a ON a.attrelid = i.indrelid "
                       "AND a.attnum = ANY(i.indkey) WHERE i.indrelid = 'customers'::regclass "
                       "ORDER BY i.indisprimary DESC, i.indisunique DESC, 1"),
              (strings{"id", "email", "name"}));
    EXPECT_EQ(dst.value("SELECT count(*) FROM pg_index WHERE indrelid = 'customers'::regclass AND indisunique"), "2");
    EXPECT_EQ(dst.value("SELECT count(*) FROM pg_index WHERE indrelid = 'orders'::regclass"), "2");
    // New rows continue after the highest id, not after the row count.
    EXPECT_EQ(dst.value("INSERT INTO customers (name) VALUES ('next') RETURNING id"), "8");
    EXPECT_EQ(dst.value("INSERT INTO orders (customer_id) VALUES (2) RETURNING order_id"), "3");
}

TEST_F(console_program_test, copy_carries_a_table_over_1000_rows_and_a_row_over_1000000_bytes)
{
    src.exec("CREATE TABLE many (id INT PRIMARY KEY, label VARCHAR(40), amount DECIMAL(10,3));"
             "INSERT INTO many SELECT seq, CONCAT('row ', seq, ' ä\\t\\\\'), seq / 7 FROM seq_1_to_2500;"
             "CREATE TABLE blobs (id INT PRIMARY KEY, data LONGBLOB);");
    std::string big(1'500'000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>((i * 7919) % 256);
    src.exec("INSERT INTO blobs VALUES (1, 'small'), (3, NULL)");
    src.exec_with_blob("INSERT INTO blobs VALUES (2, ?)", big);
    src.exec("INSERT INTO blobs VALUES (4, 'after')");

    const run_result r = run_quindrel(live() + strings{"--fast_insert"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("Converting table many (2500 records)\n\n"), std::string::npos) << r.out;

    // Every row, byte for byte: the same digest of all rows on both sides.
    src.exec("SET SESSION group_concat_max_len = 100000000");
    EXPECT_EQ(dst.value("SELECT count(*), md5(string_agg(id || '|' || label || '|' || amount, E'\\n' ORDER BY id)) "
                        "FROM many"),
              "2500|" + src.value("SELECT MD5(GROUP_CONCAT(CONCAT(id, '|', label, '|', amount) ORDER BY id "
                                  "SEPARATOR '\\n')) FROM many"));
    EXPECT_EQ(dst.value("SELECT label FROM many WHERE id = 1777"), "row 1777 ä\t\\");
    // The large value, byte for byte.
    pqxx::connection c(test_env::pg_conninfo(dst.name()));
    pqxx::nontransaction t(c);
    const pqxx::binarystring stored(t.exec("SELECT data FROM blobs WHERE id = 2")[0][0]);
    EXPECT_TRUE(stored.str() == big);
    EXPECT_EQ(dst.rows("SELECT id, length(data) FROM blobs ORDER BY id"),
              (strings{"1|5", "2|1500000", "3|<null>", "4|5"}));
}

// Modes 1 to 4 against an existing table, and into a database that does not
// exist yet (which the run creates).
struct mode_case {
    int mode;
    strings rows_after;  // of table t after the second run
};
std::ostream& operator<<(std::ostream& os, const mode_case& c) { return os << "mode " << c.mode; }

class console_mode_run_test : public console_program_test, public ::testing::WithParamInterface<mode_case> {};

TEST_P(console_mode_run_test, existing_table_is_handled_by_mode)
{
    const std::string mode = "--mode=" + std::to_string(GetParam().mode);
    src.exec("CREATE TABLE t (id INT PRIMARY KEY, v VARCHAR(10)); INSERT INTO t VALUES (1, 'old'), (9, 'keep');");

    // Into a database that does not exist yet: it is created.
    ASSERT_FALSE(dst.exists());
    run_result r = run_quindrel(live() + strings{mode});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(dst.rows("SELECT id, v FROM t ORDER BY id"), (strings{"1|old", "9|keep"}));

    src.exec("DELETE FROM t WHERE id = 9; UPDATE t SET v = 'new' WHERE id = 1; INSERT INTO t VALUES (2, 'two');");
    r = run_quindrel(live() + strings{mode});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(dst.rows("SELECT id, v FROM t ORDER BY id"), GetParam().rows_after);
    const bool table_line = r.out.find("Converting table t (2 records)") != std::string::npos;
    EXPECT_EQ(table_line, GetParam().mode != 2) << r.out;
}

INSTANTIATE_TEST_SUITE_P(modes, console_mode_run_test,
                         ::testing::Values(mode_case{1, {"1|new", "2|two"}},
                                           mode_case{2, {"1|old", "9|keep"}},
                                           mode_case{3, {"1|old", "2|two", "9|keep"}},
                                           mode_case{4, {"1|new", "2|two", "9|keep"}}));

TEST_F(console_program_test, mode_0_replaces_the_whole_database)
{
    src.exec("CREATE TABLE t (id INT PRIMARY KEY); INSERT INTO t VALUES (1);");
    dst.create();
    dst.exec("CREATE TABLE stray (x int)");
    const run_result r = run_quindrel(live() + strings{"--mode=0"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(dst.rows("SELECT tablename FROM pg_tables WHERE schemaname = 'public'"), strings{"t"});
}

TEST_F(console_program_test, a_refused_row_is_reported_with_its_number_and_the_run_goes_on)
{
    src.exec("CREATE TABLE events (id INT PRIMARY KEY, label VARCHAR(10));"
             "INSERT INTO events VALUES (1, 'one'), (2, 'bad'), (3, 'three');");
    // The destination table exists with a rule the source does not know.
    dst.create();
    dst.exec("CREATE TABLE events (id integer PRIMARY KEY, label varchar(10) CHECK (label <> 'bad'))");
    const run_result r = run_quindrel(live() + strings{"--mode=3"});
    // The run goes to its end, and its status and last line say that a row was left out.
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("Converting table events (3 records)\n\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err.rfind("Error:\nevents, record #2: ", 0), 0u) << r.err;
    EXPECT_TRUE(r.err.ends_with("\nConversion incomplete: 1 rows, 0 tables, 0 indexes, 0 foreign keys and 0 views "
                                "were not converted\n"))
        << r.err;
    EXPECT_EQ(dst.rows("SELECT id FROM events ORDER BY id"), (strings{"1", "3"}));
}

// A column that arrives without its default is a loss the run reports: the report, the exit
// status and the summary all count it, also when the run is silent.
TEST_F(console_program_test, a_default_that_is_not_carried_counts_in_the_exit_status_and_the_summary)
{
    src.exec("CREATE TABLE d (id INT PRIMARY KEY, e INT DEFAULT (1 / 3)); INSERT INTO d (id) VALUES (1);");
    const run_result r = run_quindrel(live() + strings{"--silent"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error:\nd: Column 'e': the default (1 / 3) has no PostgreSQL form; the column arrives "
                     "without a default\n"
                     "Conversion incomplete: 0 rows, 0 tables, 0 indexes, 0 foreign keys and 0 views were not "
                     "converted; 1 column default or property was not carried\n");
    EXPECT_EQ(dst.rows("SELECT id FROM d"), strings{"1"});
}

TEST_F(console_program_test, a_source_value_that_cannot_be_carried_fails_only_its_row)
{
    // MySQL's TIME reaches past one day; a time of day cannot hold it, and the table has to
    // arrive with the other rows all the same.
    src.exec("CREATE TABLE shifts (id INT PRIMARY KEY, starts TIME);"
             "INSERT INTO shifts VALUES (1, '08:00:00'), (2, '100:00:00'), (3, '23:59:59');");
    const run_result r = run_quindrel(live());
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    const std::string report = "shifts, record #2: ";
    const std::size_t at = r.err.find(report);
    ASSERT_NE(at, std::string::npos) << r.err;
    EXPECT_NE(r.err.find("'100:00:00'", at), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("record #", at + report.size()), std::string::npos) << r.err;  // one report only
    EXPECT_EQ(dst.rows("SELECT id || '|' || starts FROM shifts ORDER BY id"), (strings{"1|08:00:00", "3|23:59:59"}));
}

TEST_F(console_program_test, table_list_file_with_mark_empty_line_and_a_missing_table)
{
    load_sample();
    scratch dir;
    const std::string list = dir.write("tables.txt", "\xEF\xBB\xBF" "orders\r\n\r\nnosuch\r\ncustomers\r\n");
    const run_result r = run_quindrel(live() + strings{"--tab_file=" + list});
    // The listed table that did not arrive makes the run incomplete.
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(r.err, "Error:\nTable 'nosuch' does not exist in the source database '" + src.name() + "'\n"
                     "Conversion incomplete: 0 rows, 1 tables, 0 indexes, 0 foreign keys and 0 views were not "
                     "converted\n");
    // The count is of the tables that will be converted.
    EXPECT_EQ(r.out, first_line() + "Connecting to MySQL server...done\n"
                     "Connecting to Postgres server...done\n"
                     "Converting database '" + src.name() + "' (2 tables)\n"
                     "Converting table orders (2 records)\n\n"
                     "Converting table customers (3 records)\n\n");
    EXPECT_EQ(dst.rows(customers_query), expected_customers);
}

// A profile's view that the source lacks is reported and counted like a missing table, live
// and in a script; the view it names that the source has arrives.
TEST_F(console_program_test, profile_view_the_source_lacks_is_reported)
{
    load_sample();
    src.exec("CREATE VIEW big_spenders AS SELECT id, name FROM customers WHERE balance > 10;");
    scratch dir;
    const std::string profile = dir.write("views.pmr", "[Selected Tables]\ncustomers\n"
                                                       "[Selected Views]\nbig_spenders\nno_such_view\n");
    const std::string script = dir.file("out.sql");
    const strings runs[] = {live(), connection_options() + strings{"--src=" + src.name(), "--dest=" + script, "--dump"}};
    for (const strings& run : runs) {
        const run_result r = run_quindrel(run + strings{"--profile=" + profile});
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_EQ(r.err, "Error:\nView 'no_such_view' does not exist in the source database '" + src.name() + "'\n"
                         "Conversion incomplete: 0 rows, 0 tables, 0 indexes, 0 foreign keys and 1 views were not "
                         "converted\n");
    }
    EXPECT_EQ(dst.rows("SELECT name FROM big_spenders"), strings{"Zoë Ångström"});
    EXPECT_NE(read_file(script).find("VIEW \"public\".\"big_spenders\""), std::string::npos);
}

struct option_error_case {
    const char* name;
    strings arguments;
    std::string err;
};

const std::string usage = std::string(console_usage_text) + "\n";
std::ostream& operator<<(std::ostream& os, const option_error_case& c) { return os << c.name; }

class console_option_error_test : public ::testing::TestWithParam<option_error_case> {};

TEST_P(console_option_error_test, ends_with_255_and_its_text_on_standard_error)
{
    const option_error_case& c = GetParam();
    const run_result r = run_quindrel(c.arguments);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
}

strings junk_arguments()
{
    strings junk{"--src=a", "--dest=b"};
    for (int i = 0; i < 25; ++i)
        junk.push_back("junk" + std::to_string(i));
    return junk;
}

INSTANTIATE_TEST_SUITE_P(
    cases, console_option_error_test,
    ::testing::Values(
        option_error_case{"no_arguments", {}, usage},
        option_error_case{"unknown_option", {"--src=a", "--dest=b", "--colour=red"}, "unknown option --colour\n" + usage},
        option_error_case{"many_unknown_arguments", junk_arguments(), "unexpected argument (not an option)\n" + usage},
        option_error_case{"bad_mode", {"--src=a", "--dest=b", "--mode=7"}, "Invalid merge/overwrite mode\n"},
        option_error_case{"missing_src", {"--dest=b"}, "You should enter source MySQL database name\n"},
        option_error_case{"missing_dest", {"--src=a"}, "You should enter destination PostgreSQL database name\n"},
        option_error_case{"missing_list_file",
                          {"--src=a", "--dest=b", "--tab_file=/nonexistent/tables.txt"},
                          "Table names file does not exist.\nPlease verify the correct path/name was given.\n"},
        option_error_case{"silent_usage", {"--colour=red", "--silent"}, "unknown option --colour\n" + usage}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(console_program_test, wrong_mysql_password_is_reported_after_the_connecting_text)
{
    strings args = live();
    args[3] = "--mysqlp=wrong";
    const run_result r = run_quindrel(args);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, first_line() + "Connecting to MySQL server...");
    EXPECT_EQ(r.err, "Error:\n"
                     "Access denied. Verify the user name and password are correct, and you have "
                     "the necessary privileges to connect to the target MySQL server.\n");
    EXPECT_FALSE(dst.exists());
}

TEST_F(console_program_test, refused_postgresql_login_before_the_run_fails_and_converts_nothing)
{
    load_sample();
    strings args = live();
    args[7] = "--posgsp=wrong";
    const run_result r = run_quindrel(args);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, first_line() + "Connecting to MySQL server...done\nConnecting to Postgres server...");
    EXPECT_EQ(r.err.rfind("Error:\n", 0), 0u) << r.err;
    EXPECT_FALSE(dst.exists());
}

TEST_F(console_program_test, failed_drop_of_a_database_in_use_stops_before_the_run)
{
    load_sample();
    dst.create();
    dst.exec("CREATE TABLE kept (x int); INSERT INTO kept VALUES (42)");
    {
        // Another session holds the database open, so it cannot be dropped.
        pqxx::connection busy(test_env::pg_conninfo(dst.name()));
        const run_result r = run_quindrel(live() + strings{"--mode=0"});
        EXPECT_EQ(r.status, 255) << r.out << r.err;
        EXPECT_TRUE(r.out.ends_with("Connecting to Postgres server...done\n")) << r.out;
        EXPECT_EQ(r.err.rfind("Error:\n", 0), 0u) << r.err;
    }
    EXPECT_EQ(dst.value("SELECT x FROM kept"), "42");
    EXPECT_EQ(dst.value("SELECT count(*) FROM pg_tables WHERE tablename = 'customers'"), "0");
}

TEST_F(console_program_test, run_that_cannot_create_its_destination_exits_255)
{
    load_sample();
    const std::string role = test_env::unique_name("qc_role");
    {
        pqxx::connection c(test_env::pg_conninfo("postgres"));
        pqxx::nontransaction t(c);
        t.exec("CREATE ROLE " + role + " LOGIN NOCREATEDB PASSWORD 'pw'");
    }
    strings args = live();
    args[6] = "--posgsu=" + role;
    args[7] = "--posgsp=pw";
    const run_result r = run_quindrel(args);
    {
        pqxx::connection c(test_env::pg_conninfo("postgres"));
        pqxx::nontransaction t(c);
        t.exec("DROP ROLE " + role);
    }
    EXPECT_EQ(r.status, 255) << r.out << r.err;
    EXPECT_TRUE(r.out.ends_with("Connecting to Postgres server...done\n")) << r.out;
    EXPECT_EQ(r.err.rfind("Error:\n", 0), 0u) << r.err;
    EXPECT_FALSE(dst.exists());
}

TEST_F(console_program_test, silent_prints_nothing_and_the_log_file_gets_the_progress)
{
    load_sample();
    scratch dir;
    const std::string log = dir.file("trace.log");
    run_result r = run_quindrel(live() + strings{"--silent", "--logfile=" + log});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(dst.rows(customers_query), expected_customers);
    const std::string text = read_file(log);
    EXPECT_NE(text.find("Converting database '" + src.name() + "' (2 tables)"), std::string::npos) << text;
    EXPECT_NE(text.find("Converting table orders (2 records)"), std::string::npos) << text;

    // Silent hides progress, never the error that ended the program.
    strings args = live() + strings{"--silent"};
    args[3] = "--mysqlp=wrong";
    r = run_quindrel(args);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("Error:\nAccess denied.", 0), 0u) << r.err;

    // A row refused: silent hides the progress, neither the row's report nor the summary nor
    // the status.
    src.exec("CREATE TABLE shifts (id INT PRIMARY KEY, starts TIME); INSERT INTO shifts VALUES (1, '100:00:00');");
    r = run_quindrel(live() + strings{"--silent", "--mode=1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("Error:\nshifts, record #1: ", 0), 0u) << r.err;
    EXPECT_TRUE(r.err.ends_with("\nConversion incomplete: 1 rows, 0 tables, 0 indexes, 0 foreign keys and 0 views "
                                "were not converted\n"))
        << r.err;
}

TEST_F(console_program_test, script_file_loads_with_psql)
{
    load_sample();
    scratch dir;
    const std::string script = dir.file("out.sql");
    // Stale content is replaced.
    dir.write("out.sql", "garbage that psql would refuse;\n");
    strings args = connection_options();
    args.resize(4);  // no PostgreSQL settings needed
    const run_result r = run_quindrel(args + strings{"--src=" + src.name(), "--dest=" + script, "--dump"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "Destination: script file '" + script + "' (mode 0: overwrite the entire database)\n"
                     "Connecting to MySQL server...done\n"
                     "Converting database '" + src.name() + "' (2 tables)\n"
                     "Converting table customers (3 records)\n\n"
                     "Converting table orders (2 records)\n\n");

    dst.create();
    const auto pg = test_env::pg();
    const char* bin = std::getenv("TEST_PG_BIN");
    const std::string psql = bin ? std::string(bin) + "/psql" : std::string("psql");
    setenv("PGPASSWORD", pg.password.c_str(), 1);
    const std::string command = psql + " -q -X -v ON_ERROR_STOP=1 -h " + pg.host + " -p " + std::to_string(pg.port) +
                                " -U " + pg.user + " -d " + dst.name() + " -f " + script + " >" +
                                dir.file("psql.out") + " 2>&1";
    const int rc = std::system(command.c_str());
    ASSERT_EQ(rc, 0) << read_file(dir.file("psql.out"));
    EXPECT_EQ(dst.rows(customers_query), expected_customers);
    EXPECT_EQ(dst.value("INSERT INTO customers (name) VALUES ('next') RETURNING id"), "8");
}

TEST_F(console_program_test, schema_and_case_sensitive_names)
{
    src.exec("CREATE TABLE MixedCase (Id INT PRIMARY KEY, SomeCol VARCHAR(5)); INSERT INTO MixedCase VALUES (1, 'x');");
    run_result r = run_quindrel(live() + strings{"--schema=sales", "--case_sens"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Creating schema if necessary: 'sales'\nConverting table MixedCase (1 records)\n\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(dst.rows("SELECT \"Id\", \"SomeCol\" FROM sales.\"MixedCase\""), strings{"1|x"});

    // Without the switch names are folded to lower case, in the default schema.
    r = run_quindrel(live() + strings{"--mode=0"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("Creating schema"), std::string::npos);
    EXPECT_EQ(dst.rows("SELECT id, somecol FROM public.mixedcase"), strings{"1|x"});
}

TEST_F(console_program_test, client_encoding_utf8_keeps_every_text_and_another_one_refuses_only_rows_it_cannot_hold)
{
    load_sample();
    run_result r = run_quindrel(live() + strings{"--encoding=utf-8", "--fast_insert"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(dst.rows(customers_query), expected_customers);

    // WIN1252 holds "Zoë Ångström" but not the Japanese note of row 3.
    pg_destination other;
    strings args = live() + strings{"--encoding=WIN1252"};
    args[9] = "--dest=" + other.name();
    r = run_quindrel(args);
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    // A row's report is a level-0 error, on standard error.
    EXPECT_NE(r.err.find("Error:\ncustomers, record #3: Column \"note\": character '\xe6\x97\xa5' (U+65E5) cannot be "
                         "represented in encoding WIN1252"),
              std::string::npos)
        << r.out << "|" << r.err;
    EXPECT_EQ(other.rows(customers_query), (strings{expected_customers[0], expected_customers[1]}));
}

TEST_F(console_program_test, definitions_only_without_indexes_as_unlogged_tables)
{
    load_sample();
    const run_result r = run_quindrel(live() + strings{"--tab_def", "--skip_idx", "--unlogged"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Converting table customers (3 records)\n\n"), std::string::npos) << r.out;
    EXPECT_EQ(dst.value("SELECT (SELECT count(*) FROM customers) + (SELECT count(*) FROM orders)"), "0");
    EXPECT_EQ(dst.value("SELECT count(*) FROM pg_index WHERE indrelid IN ('customers'::regclass, 'orders'::regclass)"),
              "0");
    EXPECT_EQ(dst.rows("SELECT relname, relpersistence FROM pg_class WHERE relname IN ('customers', 'orders') "
                       "ORDER BY 1"),
              (strings{"customers|u", "orders|u"}));
}

}  // namespace
