// The PostgreSQL script destination: the exact text of the file's parts, the row forms (COPY
// block and INSERT statements), large values, the checked writes, and a script loaded by psql
// into a fresh database.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "TK/ole_variant.h"
#include "TK/tk_exception.h"
#include "TK/tk_strings.h"
#include "UDB/udb_failure.h"
#include "UDB/udb_record.h"
#include "UDB/udb_schema.h"
#include "pg_target/pgs_dmp_recordset.h"
#include "pg_target/pgs_dump.h"
#include "pg_target/pgs_engine.h"
#include "pg_target/pgs_exception.h"
#include "pg_target/pgs_quote.h"
#include "support/psql_load.h"
#include "support/scratch_dir.h"
#include "support/test_env.h"

#include <fcntl.h>
#include <pqxx/pqxx>
#include <sys/wait.h>

using test_env::read_file;
using test_env::run_psql;

namespace {


std::string today()
{
    std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", t.tm_mon + 1, t.tm_mday, t.tm_year + 1900);
    return buf;
}

// Written by every script right after its header.
const std::string scs = "SET standard_conforming_strings = on;\r\n";

ole_variant null_value()
{
    ole_variant v;
    v.src.vt = VT_NULL;
    return v;
}

t_ftd column(const wchar_t* name, VARTYPE vt, std::uint32_t size = 0, bool not_null = false,
             bool auto_increment = false, std::int32_t subtype = 0)
{
    return t_ftd(size, name, vt, not_null, auto_increment, ole_variant(), subtype);
}

// A record whose fields are named as the schema's columns.
udb_record make_record(const udb_schema& s, std::vector<ole_variant> values)
{
    udb_record r;
    for (std::size_t i = 0; i < values.size(); ++i)
        r.emplace_back(i < s.size() ? s[i].name : std::wstring(L"extra"), 0u, values[i]);
    return r;
}

class script_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        scratch = std::make_unique<test_env::scratch_dir>("pgs_dump_test");
        dir = scratch->path();
        path = dir + "/out.sql";
        engine = std::make_unique<pgs_engine>();
        engine->fast_insert = true;
    }
    void TearDown() override
    {
        engine.reset();
        scratch.reset();
    }

    std::unique_ptr<pgs_dmp_database> open(const pgs_dump_options& options = plain_options())
    {
        return std::make_unique<pgs_dmp_database>(tk_utf8_to_unicode(path), options);
    }
    static pgs_dump_options plain_options()
    {
        pgs_dump_options o;
        o.insert_comments = false;
        return o;
    }
    std::string header() const
    {
        return "/*\r\nFile name: " + path + "\r\nCreation date: " + today() +
               "\r\nCreated by Tester 1.0\r\n--------------------------------------------------\r\n*/\r\n";
    }

    std::unique_ptr<test_env::scratch_dir> scratch;
    std::string dir, path;
    std::unique_ptr<pgs_engine> engine;
};

// ---- the file's parts -------------------------------------------------------------------------

TEST_F(script_test, small_table_gives_exact_header_schema_structure_and_copy_block)
{
    pgs_dump_options o;
    o.creator = "Tester 1.0";
    auto db = open(o);
    db->query(L"set client_encoding to 'UTF8'");
    db->create_schema(L"Sales");
    db->create_schema(L"PUBLIC");

    udb_schema s;
    s.add_column(column(L"Id", VT_I4, 0, true, true));
    s.add_column(column(L"Name", VT_BSTR, 20));
    s.add_column(column(L"a.b", VT_R8));
    udb_indexes idx;
    idx.push_back(udb_index(L"PRIMARY", true, true, {L"Id"}));
    idx.push_back(udb_index(L"ix_name", false, false, {L"Name"}));
    {
        auto rs = db->create_table1(L"Sales.Items", s, idx);
        rs->append_record(*std::make_unique<udb_record>(make_record(s, {7, L"a\tb", null_value()})));
        rs->append_record(*std::make_unique<udb_record>(make_record(s, {8, null_value(), 1.5})));
    }
    db->close();

    const std::string expected =
        header() + "SET standard_conforming_strings = on;\r\n"
        "set client_encoding to 'UTF8';\r\n"
        "DO $$\r\nBEGIN\r\nIF NOT EXISTS (SELECT schema_name FROM information_schema.schemata WHERE "
        "schema_name = 'sales')\r\nTHEN\r\nCREATE SCHEMA \"sales\";\r\nEND IF;\r\nEND$$;\r\n\r\n"
        "\r\n/*\r\nTable structure for table 'Sales.Items'\r\n*/\r\n\r\n"
        "DROP TABLE IF EXISTS \"sales\".\"items\" CASCADE;\r\n"
        "CREATE TABLE \"sales\".\"items\" (\"id\" SERIAL NOT NULL, \"name\" VARCHAR(20) , \"a.b\" DOUBLE PRECISION);\r\n"
        // Each index guarded: a refusal while loading is a warning; a name another table's
        // index has already is left to the server; nothing is dropped first.
        "DO $q1$\r\nBEGIN\r\nBEGIN\r\n"
        "EXECUTE $q$ALTER TABLE \"sales\".\"items\" ADD CONSTRAINT \"primary\" PRIMARY KEY (\"id\")$q$;\r\n"
        "EXCEPTION WHEN duplicate_table OR duplicate_object THEN\r\n"
        "EXECUTE $q$ALTER TABLE \"sales\".\"items\" ADD PRIMARY KEY (\"id\")$q$;\r\nEND;\r\n"
        "EXCEPTION WHEN others THEN\r\nRAISE WARNING '%', 'Primary key ''PRIMARY'' of table ''sales.items'' was not "
        "created: ' || SQLERRM;\r\nEND\r\n$q1$;\r\n"
        "DO $q1$\r\nBEGIN\r\nBEGIN\r\n"
        "EXECUTE $q$CREATE INDEX \"ix_name\" ON \"sales\".\"items\" (\"name\")$q$;\r\n"
        "EXCEPTION WHEN duplicate_table OR duplicate_object THEN\r\n"
        "EXECUTE $q$CREATE INDEX ON \"sales\".\"items\" (\"name\")$q$;\r\nEND;\r\n"
        "EXCEPTION WHEN others THEN\r\nRAISE WARNING '%', 'Index ''ix_name'' of table ''sales.items'' was not "
        "created: ' || SQLERRM;\r\nEND\r\n$q1$;\r\n"
        "\r\n/*\r\nDumping data for table 'Sales.Items'\r\n*/\r\n\r\n"
        "COPY \"sales\".\"items\"(\"id\",\"name\",\"a.b\") FROM stdin;\n"
        "7\ta\\tb\t\\N\n"
        "8\t\\N\t1.5\n"
        "\\.\n"
        "SELECT setval(pgs_s.seq, LEAST(CASE WHEN pgs_n.next - pgs_q.seqincrement >= pgs_q.seqmin THEN pgs_n.next - "
        "pgs_q.seqincrement ELSE pgs_n.next END, pgs_q.seqmax)::bigint, pgs_n.next - pgs_q.seqincrement >= "
        "pgs_q.seqmin) FROM (SELECT "
        "(pg_get_serial_sequence('\"sales\".\"items\"', 'id'))::regclass AS seq) AS pgs_s JOIN pg_sequence AS pgs_q "
        "ON pgs_q.seqrelid = pgs_s.seq, LATERAL (SELECT GREATEST(COALESCE(MAX(pgs_rows.\"id\")::numeric + "
        "pgs_q.seqincrement, pgs_q.seqmin), COALESCE(pg_sequence_last_value(pgs_s.seq)::numeric + pgs_q.seqincrement, "
        "pgs_q.seqmin)) AS next FROM \"sales\".\"items\" AS pgs_rows) AS pgs_n;\r\n";
    EXPECT_EQ(read_file(path), expected);
}

TEST_F(script_test, case_sensitive_names_keep_their_case)
{
    engine->is_case_sens = true;
    auto db = open();
    db->create_schema(L"Sales");
    udb_schema s;
    s.add_column(column(L"Id", VT_I4));
    {
        auto rs = db->create_table1(L"Sales.Items", s, *std::make_unique<udb_indexes>());
        rs->append_record(*std::make_unique<udb_record>(make_record(s, {1})));
        engine->fast_insert = false;
        rs->append_record(*std::make_unique<udb_record>(make_record(s, {2})));
    }
    db->close();
    const std::string text = read_file(path);
    EXPECT_NE(text.find("WHERE schema_name = 'Sales')\r\nTHEN\r\nCREATE SCHEMA \"Sales\";"), std::string::npos) << text;
    EXPECT_NE(text.find("CREATE TABLE \"Sales\".\"Items\" (\"Id\" INTEGER);\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("COPY \"Sales\".\"Items\"(\"Id\") FROM stdin;\n1\n\\.\n"
                        "INSERT INTO \"Sales\".\"Items\"(\"Id\") VALUES (2);\r\n"),
              std::string::npos)
        << text;
}

TEST_F(script_test, insert_form_lists_fields_in_record_order_with_sql_literals)
{
    engine->fast_insert = false;
    auto db = open();
    udb_schema s;
    s.add_column(column(L"Id", VT_I4));
    s.add_column(column(L"Name", VT_BSTR, 0, true));
    s.add_column(column(L"Data", VT_ARRAY | VT_UI1));
    {
        auto rs = db->create_table1(L"t", s, *std::make_unique<udb_indexes>());
        udb_record r;
        r.emplace_back(L"Name", 0u, ole_variant(L"O'Hara\r\nx\\y"));
        r.emplace_back(L"Id", 0u, ole_variant(5));
        r.emplace_back(L"Data", 0u, ole_variant(std::vector<std::uint8_t>{0x00, 0x41, 0xff}));
        rs->append_record(r);
        udb_record n;
        n.emplace_back(L"NAME", 0u, ole_variant(L""));
        n.emplace_back(L"ID", 0u, null_value());
        n.emplace_back(L"DATA", 0u, ole_variant(std::vector<std::uint8_t>{}));
        rs->append_record(n);
        // A NULL for the NOT NULL column would stop the script's load: that row fails alone,
        // as the server refuses it in a live run, and nothing of it is written.
        udb_record refused;
        refused.emplace_back(L"Name", 0u, null_value());
        refused.emplace_back(L"Id", 0u, ole_variant(6));
        refused.emplace_back(L"Data", 0u, null_value());
        try {
            rs->append_record(refused);
            ADD_FAILURE() << "a NULL for a NOT NULL column was written";
        } catch (const pgs_exception& e) {
            EXPECT_EQ(std::string(e.what()), "null value in column \"name\" of relation \"t\" violates not-null constraint");
            EXPECT_EQ(e.sqlstate(), "23502");
        }
    }
    db->close();
    const std::string text = read_file(path);
    const std::string rows =
        "INSERT INTO \"t\"(\"name\", \"id\", \"data\") VALUES ('O''Hara\r\nx\\y', 5, DECODE('0041FF','hex'));\r\n"
        "INSERT INTO \"t\"(\"name\", \"id\", \"data\") VALUES ('', NULL, DECODE('','hex'));\r\n";
    ASSERT_GE(text.size(), rows.size());
    EXPECT_EQ(text.substr(text.size() - rows.size()), rows);
    EXPECT_EQ(text.find("COPY"), std::string::npos);
}

TEST_F(script_test, database_line_only_with_create_database_and_create_tables)
{
    struct option_case {
        bool create_db, create_tables;
        std::string db_name;
        std::string text;
    };
    const std::vector<option_case> cases = {
        {true, true, "", "\r\nDROP DATABASE IF EXISTS \"out\"; CREATE DATABASE \"out\";\r\n"},
        // one name, dots included, folded like every name
        {true, true, "My.Db", "\r\nDROP DATABASE IF EXISTS \"my.db\"; CREATE DATABASE \"my.db\";\r\n"},
        {true, false, "", ""},
        {false, true, "", ""},
    };
    for (const auto& c : cases) {
        pgs_dump_options o = plain_options();
        o.create_database = c.create_db;
        o.create_tables = c.create_tables;
        o.database_name = c.db_name;
        open(o)->close();
        EXPECT_EQ(read_file(path), c.text + scs) << c.db_name << c.create_db << c.create_tables;
    }
}

TEST_F(script_test, without_create_tables_a_table_gets_only_its_data_comment)
{
    pgs_dump_options o;
    o.create_tables = false;
    o.creator = "Tester 1.0";
    auto db = open(o);
    udb_schema s;
    s.add_column(column(L"x", VT_I4));
    {
        auto rs = db->create_table1(L"t", s, *std::make_unique<udb_indexes>());
        rs->append_record(*std::make_unique<udb_record>(make_record(s, {1})));
    }
    db->close();
    EXPECT_EQ(read_file(path), header() + scs + "\r\n/*\r\nDumping data for table 't'\r\n*/\r\n\r\n"
                                          "COPY \"t\"(\"x\") FROM stdin;\n1\n\\.\n");
}

TEST_F(script_test, unsafe_column_names_become_distinct_names_in_structure_and_rows)
{
    for (bool tables : {true, false}) {
        pgs_dump_options o = plain_options();
        o.create_tables = tables;
        auto db = open(o);
        udb_schema s;
        s.add_column(column(L"a/b", VT_I4));
        s.add_column(column(L"a?b", VT_I4));
        {
            auto rs = db->create_table1(L"t", s, *std::make_unique<udb_indexes>());
            rs->append_record(*std::make_unique<udb_record>(make_record(s, {1, 2})));
            engine->fast_insert = false;
            rs->append_record(*std::make_unique<udb_record>(make_record(s, {3, 4})));
            engine->fast_insert = true;
        }
        db->close();
        const std::string text = read_file(path);
        EXPECT_NE(text.find("COPY \"t\"(\"a_b\",\"a_b00000\") FROM stdin;\n1\t2\n\\.\n"
                            "INSERT INTO \"t\"(\"a_b\", \"a_b00000\") VALUES (3, 4);\r\n"),
                  std::string::npos)
            << text;
        if (tables) {
            EXPECT_NE(text.find("(\"a_b\" INTEGER, \"a_b00000\" INTEGER)"), std::string::npos) << text;
        }
    }
}

TEST_F(script_test, index_and_drop_statements)
{
    auto db = open();
    db->create_index(L"public.T", udb_index(L"PRIMARY", true, true, {L"Id", L"a.b"}));
    db->create_index(L"t", udb_index(L"Ix", true, false, {L"x"}));
    db->delete_idx(L"t", udb_index(L"Ix", true, false, {L"x"}));
    db->delete_idx(L"t", udb_index(L"PK", true, true, {L"x"}));
    EXPECT_FALSE(db->delete_tab(L"never"));
    db->query(L"select 1;");
    db->close();
    EXPECT_EQ(read_file(path),
              scs +
              "DROP INDEX IF EXISTS \"public_t_primary\";\r\n"
              "ALTER TABLE \"public\".\"t\" ADD CONSTRAINT \"public_t_primary\" PRIMARY KEY(\"id\", \"a.b\");\n"
              "DROP INDEX IF EXISTS \"t_ix\";\r\n"
              "CREATE UNIQUE INDEX \"t_ix\" ON \"t\"(\"x\");\n"
              "DROP INDEX IF EXISTS \"ix\";\r\n"
              "ALTER TABLE \"t\" DROP CONSTRAINT \"pk\";\r\n"
              "DROP TABLE IF EXISTS \"never\" CASCADE;\r\n"
              "select 1;;\r\n");
}

TEST_F(script_test, comment_cannot_be_closed_by_a_table_name)
{
    pgs_dump_options o;
    o.create_tables = false;
    auto db = open(o);
    udb_schema s;
    s.add_column(column(L"x", VT_I4));
    db->create_table1(L"a*/b", s, *std::make_unique<udb_indexes>());
    db->close();
    EXPECT_EQ(read_file(path).find("a*/b"), std::string::npos);
}

TEST(script_comment_text, nothing_in_it_can_open_or_close_a_comment_or_end_a_line)
{
    const std::pair<const char*, const char*> cases[] = {
        {"plain Zo\xC3\xAB", "plain Zo\xC3\xAB"},
        {"a*/b", "a* /b"},
        {"a/*b", "a/ *b"},      // block comments nest: an opening one matters as much
        {"*/*/", "* / * /"},
        {"/*/", "/ * /"},
        {"a\nb\r--c\t", "a\\nb\\r--c\\t"},  // a line break would end a -- comment
        {"esc\x1B[0m", "esc\\x1B[0m"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(pgs_comment_text(in), out) << in;
}

TEST_F(script_test, an_earlier_script_stays_until_the_new_one_is_finished)
{
    {
        std::ofstream(path) << "earlier";
    }
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    udb_schema s;
    s.add_column(column(L"x", VT_I4));
    auto files_in_dir = [&] {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
        return names;
    };
    // A run that fails midway: the script is dropped while the error unwinds.
    try {
        auto db = open();
        db->create_table1(L"t", s, *std::make_unique<udb_indexes>());
        EXPECT_EQ(read_file(path), "earlier");
        throw std::runtime_error("the run failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(read_file(path), "earlier");
    EXPECT_EQ(files_in_dir(), std::vector<std::string>{"out.sql"});

    // A finished one takes the earlier one's place, with its permissions.
    auto db = open();
    db->create_table1(L"t", s, *std::make_unique<udb_indexes>());
    db->close();
    EXPECT_NE(read_file(path).find("CREATE TABLE"), std::string::npos);
    EXPECT_EQ(files_in_dir(), std::vector<std::string>{"out.sql"});
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(script_test, a_pipe_is_never_taken_for_a_script)
{
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_THROW(open(), tk_exception);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// ---- rows -------------------------------------------------------------------------------------

TEST_F(script_test, copy_fields_keep_every_character)
{
    auto db = open();
    udb_schema s;
    s.add_column(column(L"n", VT_I4));
    s.add_column(column(L"t", VT_BSTR));
    s.add_column(column(L"req", VT_BSTR, 0, true));
    s.add_column(column(L"b", VT_BOOL));
    {
        auto rs = db->create_table1(L"t", s, *std::make_unique<udb_indexes>());
        struct row_case {
            std::vector<ole_variant> values;
            std::string line;
        };
        const std::vector<row_case> rows = {
            {{7, null_value(), L"a\tb", true}, "7\t\\N\ta\\tb\tt\n"},
            // carriage returns are kept, line feeds and backslashes escaped
            {{1, L"x\r\ny\\z", L"", false}, "1\tx\\r\\ny\\\\z\t\tf\n"},
            // a missing value in a NOT NULL text column becomes the empty text; an empty text
            // in a nullable text column stays an empty text
            {{2, L"", null_value(), null_value()}, "2\t\t\t\\N\n"},
            {{3, L"\u00e9\u4e2d\U0001F600", L"q", true}, "3\t\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80\tq\tt\n"},
        };
        std::string expected = "COPY \"t\"(\"n\",\"t\",\"req\",\"b\") FROM stdin;\n";
        for (const auto& r : rows) {
            udb_record rec = make_record(s, r.values);
            rs->append_record(rec);
            expected += r.line;
        }
        rs.reset();
        db->close();
        const std::string text = read_file(path);
        const std::string tail = expected + "\\.\n";
        ASSERT_GE(text.size(), tail.size());
        EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    }
}

TEST_F(script_test, record_of_wrong_width_is_refused_and_nothing_written)
{
    auto db = open();
    udb_schema s;
    s.add_column(column(L"a", VT_I4));
    s.add_column(column(L"b", VT_I4));
    s.add_column(column(L"c", VT_I4));
    auto rs = db->create_table1(L"t", s, *std::make_unique<udb_indexes>());
    udb_record two = make_record(s, {1, 2});
    for (bool fast : {true, false}) {
        engine->fast_insert = fast;
        try {
            rs->append_record(two);
            FAIL() << "accepted";
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level(), 0);
            EXPECT_STREQ(e.what(), "The structure of data source does not conform to the destination table.");
        }
    }
    // An INSERT field that names no column: the same error.
    udb_record odd;
    odd.emplace_back(L"a", 0u, ole_variant(1));
    odd.emplace_back(L"b", 0u, ole_variant(1));
    odd.emplace_back(L"zz", 0u, ole_variant(1));
    EXPECT_THROW(rs->append_record(odd), tk_exception);
    rs.reset();
    db->close();
    EXPECT_EQ(read_file(path).find("COPY"), std::string::npos);
    EXPECT_EQ(read_file(path).find("INSERT"), std::string::npos);
}

TEST_F(script_test, table_without_rows_leaves_nothing_after_its_data_comment)
{
    pgs_dump_options o;
    o.create_tables = false;
    auto db = open(o);
    udb_schema s;
    s.add_column(column(L"id", VT_I4, 0, true, true));
    db->create_table1(L"empty", s, *std::make_unique<udb_indexes>()).reset();
    db->create_table1(L"next", s, *std::make_unique<udb_indexes>()).reset();
    db->close();
    EXPECT_NE(read_file(path).find("'empty'\r\n*/\r\n\r\n\r\n/*\r\nDumping data for table 'next'"), std::string::npos);
    EXPECT_EQ(read_file(path).find("setval"), std::string::npos);
}

TEST_F(script_test, switching_to_insert_ends_the_copy_block_first)
{
    auto db = open();
    udb_schema s;
    s.add_column(column(L"x", VT_I4));
    {
        auto rs = db->create_table1(L"t", s, *std::make_unique<udb_indexes>());
        udb_record r = make_record(s, {1});
        rs->append_record(r);
        engine->fast_insert = false;
        rs->append_record(r);
    }
    db->close();
    const std::string text = read_file(path);
    EXPECT_NE(text.find("COPY \"t\"(\"x\") FROM stdin;\n1\n\\.\nINSERT INTO \"t\"(\"x\") VALUES (1);\r\n"),
              std::string::npos)
        << text;
}

TEST_F(script_test, large_binary_values_go_to_the_file_whole_in_hexadecimal)
{
    std::vector<std::uint8_t> big(2000000);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
    std::string hex;
    hex.reserve(big.size() * 2);
    static const char digits[] = "0123456789ABCDEF";
    for (auto b : big) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    udb_schema s;
    s.add_column(column(L"a", VT_ARRAY | VT_UI1));
    s.add_column(column(L"b", VT_ARRAY | VT_UI1));
    s.add_column(column(L"c", VT_I4));
    {
        auto db = open();
        auto rs = db->create_table1(L"t", s, *std::make_unique<udb_indexes>());
        udb_record r = make_record(s, {ole_variant(big), ole_variant(big), 9});
        rs->append_record(r);
        udb_record r2 = make_record(s, {ole_variant(std::vector<std::uint8_t>{1}), ole_variant(big), 10});
        rs->append_record(r2);
        engine->fast_insert = false;
        rs->append_record(r2);
        rs.reset();
        db->close();
    }
    const std::string text = read_file(path);
    const std::string expected = "COPY \"t\"(\"a\",\"b\",\"c\") FROM stdin;\n"
                                 "\\\\x" + hex + "\t\\\\x" + hex + "\t9\n"
                                 "\\\\x01\t\\\\x" + hex + "\t10\n\\.\n"
                                 "INSERT INTO \"t\"(\"a\", \"b\", \"c\") VALUES (DECODE('01','hex'), DECODE('" +
                                 hex + "','hex'), 10);\r\n";
    ASSERT_GE(text.size(), expected.size());
    EXPECT_TRUE(text.substr(text.size() - expected.size()) == expected);
}

TEST_F(script_test, large_text_is_escaped_like_any_text)
{
    std::wstring big;
    std::string copy_form, sql_form = "'";
    for (int i = 0; i < 300000; ++i) {
        big += L"a\t\u00e9'\n";
        copy_form += "a\\t\xc3\xa9'\\n";
        sql_form += "a\t\xc3\xa9''\n";
    }
    sql_form += "'";
    udb_schema s;
    s.add_column(column(L"t", VT_BSTR));
    {
        auto db = open();
        auto rs = db->create_table1(L"t", s, *std::make_unique<udb_indexes>());
        udb_record r = make_record(s, {ole_variant(big)});
        rs->append_record(r);
        engine->fast_insert = false;
        rs->append_record(r);
        rs.reset();
        db->close();
    }
    const std::string expected = "COPY \"t\"(\"t\") FROM stdin;\n" + copy_form + "\n\\.\nINSERT INTO \"t\"(\"t\") VALUES (" +
                                 sql_form + ");\r\n";
    const std::string text = read_file(path);
    ASSERT_GE(text.size(), expected.size());
    EXPECT_TRUE(text.substr(text.size() - expected.size()) == expected);
}

// ---- a client encoding other than UTF8 --------------------------------------------------------

TEST_F(script_test, after_its_encoding_statement_the_script_is_in_that_encoding_and_a_row_it_cannot_hold_fails_alone)
{
    const std::wstring large_fit = std::wstring(pgs_dmp_recordset::large_value_size + 10, L'\u00eb');
    const std::wstring large_refused = std::wstring(pgs_dmp_recordset::large_value_size + 10, L'a') + L"\u20ac";
    for (bool copy : {true, false}) {
        engine->fast_insert = copy;
        auto db = open();
        db->query(L"set client_encoding to 'LATIN1'");
        udb_schema s;
        s.add_column(column(L"id", VT_I4));
        s.add_column(column(L"name", VT_BSTR));
        std::vector<std::string> errors;
        {
            auto rs = db->create_table1(L"Zo\u00eb", s, *std::make_unique<udb_indexes>());
            const std::vector<std::pair<int, std::wstring>> rows = {
                {1, L"Zo\u00eb"}, {2, L"5 \u20ac"}, {3, L"Ann"}, {4, L"\U0001F600"}, {5, large_fit}, {6, large_refused}};
            for (const auto& [id, name] : rows) {
                try {
                    rs->append_record(*std::make_unique<udb_record>(make_record(s, {id, name})));
                } catch (const pgs_exception& e) {
                    EXPECT_EQ(e.get_level(), 0);
                    errors.push_back(e.what());
                }
            }
        }
        db->close();
        ASSERT_EQ(errors.size(), 3u) << copy;
        EXPECT_EQ(errors[0], "Column \"name\": character '\xe2\x82\xac' (U+20AC) cannot be represented in "
                             "encoding LATIN1");
        EXPECT_NE(errors[1].find("(U+1F600)"), std::string::npos) << errors[1];
        EXPECT_NE(errors[2].find("(U+20AC)"), std::string::npos) << errors[2];

        const std::string text = read_file(path);
        const std::size_t declared = text.find("set client_encoding to 'LATIN1';\r\n");
        ASSERT_NE(declared, std::string::npos);
        const std::string after = text.substr(declared);
        // Names and values alike, one byte for the e with diaeresis; no UTF-8 left.
        EXPECT_NE(after.find("\"zo\xeb\""), std::string::npos) << copy;
        EXPECT_NE(after.find(copy ? "1\tZo\xeb\n" : "(1, 'Zo\xeb')"), std::string::npos) << copy;
        EXPECT_NE(after.find(std::string(large_fit.size(), '\xeb')), std::string::npos) << copy;
        EXPECT_EQ(after.find("\xc3"), std::string::npos) << copy;
        // Nothing of the refused rows.
        EXPECT_EQ(after.find(copy ? "\n2\t" : "(2, "), std::string::npos) << copy;
        EXPECT_EQ(after.find(copy ? "\n4\t" : "(4, "), std::string::npos) << copy;
        EXPECT_EQ(after.find(copy ? "\n6\t" : "(6, "), std::string::npos) << copy;
        EXPECT_EQ(after.find("aaaa"), std::string::npos) << copy;
        EXPECT_NE(after.find(copy ? "\n3\tAnn\n" : "(3, 'Ann')"), std::string::npos) << copy;
    }
}

// ---- failures ---------------------------------------------------------------------------------

TEST_F(script_test, table_met_twice_fails_that_item_only)
{
    auto db = open();
    udb_schema s;
    s.add_column(column(L"x", VT_I4));
    udb_indexes none;
    db->create_table1(L"Orders", s, none).reset();
    for (const wchar_t* again : {L"Orders", L"public.orders", L"ORDERS"}) {
        try {
            db->create_table1(again, s, none);
            FAIL() << "accepted twice";
        } catch (const tk_exception& e) {
            EXPECT_EQ(e.level(), 1);
        }
    }
    // The mode that overwrites existing tables drops it first; then it may be written again.
    EXPECT_TRUE(db->delete_tab(L"orders"));
    EXPECT_NO_THROW(db->create_table1(L"orders", s, none));
}

TEST_F(script_test, unopenable_file_is_an_error)
{
    try {
        pgs_dmp_database db(tk_utf8_to_unicode(dir + "/missing/out.sql"), pgs_dump_options());
        FAIL() << "opened";
    } catch (const tk_exception& e) {
        EXPECT_EQ(e.level(), 1);
        EXPECT_NE(std::string(e.what()).find("missing/out.sql"), std::string::npos);
    }
}

TEST_F(script_test, failed_write_is_an_error)
{
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    // A large table fails while its rows are written; a middling one when the recordset ends
    // its COPY block in its destructor (which cannot throw), a small one only when the last
    // buffer is flushed: close() must report both.
    for (int rows : {1000, 100, 1}) {
        pgs_dmp_database db(L"/dev/full", pgs_dump_options());
        udb_schema s;
        s.add_column(column(L"t", VT_BSTR));
        auto rs = db.create_table1(L"t", s, *std::make_unique<udb_indexes>());
        udb_record r = make_record(s, {ole_variant(std::wstring(5000, L'x'))});
        int level = -1;
        try {
            for (int i = 0; i < rows; ++i) rs->append_record(r);
            rs.reset();
            db.close();
        } catch (const tk_exception& e) {
            level = e.level();
        }
        EXPECT_EQ(level, 1) << rows;
    }
}

TEST_F(script_test, binary_values_are_never_cut)
{
    // Past the 120,000,000 bytes that a chunked reader would serve.
    const std::size_t size = 120000001;
    pgs_dmp_database db(L"/dev/null", plain_options());
    udb_schema s;
    s.add_column(column(L"b", VT_ARRAY | VT_UI1));
    auto rs = db.create_table1(L"t", s, *std::make_unique<udb_indexes>());
    const auto before = db.writer().bytes_written();
    {
        udb_record r;
        r.emplace_back(L"b", 0u, ole_variant()).allocate_safe_array(static_cast<std::uint32_t>(size));
        ASSERT_EQ(r[0].get_data_size(), size);
        rs->append_record(r);
    }
    rs.reset();
    const std::string head = "COPY \"t\"(\"b\") FROM stdin;\n";
    EXPECT_EQ(db.writer().bytes_written() - before, head.size() + 3 + 2 * size + 1 + 3);
    db.close();
}

// ---- loading a script with psql ---------------------------------------------------------------


class psql_load_test : public script_test {
protected:
    void SetUp() override
    {
        script_test::SetUp();
        dbname = test_env::unique_name("pgs_dump");
        pqxx::connection c(test_env::pg_conninfo());
        pqxx::nontransaction tx(c);
        tx.exec("CREATE DATABASE \"" + dbname + "\" WITH ENCODING 'UTF8' TEMPLATE template0");
        // A server that reads backslashes in literals as escapes must load the same rows.
        tx.exec("ALTER DATABASE \"" + dbname + "\" SET standard_conforming_strings = off");
    }
    void TearDown() override
    {
        try {
            pqxx::connection c(test_env::pg_conninfo());
            pqxx::nontransaction tx(c);
            tx.exec("DROP DATABASE IF EXISTS \"" + dbname + "\" WITH (FORCE)");
        } catch (...) {
        }
        script_test::TearDown();
    }
    std::string dbname;
};

ole_variant date_value(const wchar_t* text)
{
    return ole_variant::from_wstring(text, VT_DATE);
}

TEST_F(psql_load_test, script_loads_with_on_error_stop_and_rows_arrive_intact)
{
    engine->is_case_sens = false;
    udb_schema s;
    s.add_column(column(L"Id", VT_I4, 0, true, true));
    s.add_column(column(L"Name", VT_BSTR, 40));
    s.add_column(column(L"Note", VT_BSTR));
    s.add_column(column(L"Price", VT_DECIMAL));
    s[3].precision = 65;
    s[3].scale = 30;
    s.add_column(column(L"Qty", VT_I8));
    s.add_column(column(L"Ratio", VT_R8));
    s.add_column(column(L"Flag", VT_BOOL));
    s.add_column(column(L"Born", VT_DATE, 0, false, false, 2));
    s.add_column(column(L"Stamp", VT_DATE, 0, false, false, 1));
    s[8].scale = 6;
    s.add_column(column(L"Data", VT_ARRAY | VT_UI1));
    s.add_column(column(L"we\"ird.Col", VT_BSTR, 10));
    udb_indexes idx;
    idx.push_back(udb_index(L"PRIMARY", true, true, {L"Id"}));
    idx.push_back(udb_index(L"ux_name", true, false, {L"Name"}));

    const std::vector<std::vector<ole_variant>> rows = {
        {1, L"plain", L"tab\there\r\nline two \\ back 'quote'", ole_variant::from_wstring(L"12345678901234567890123456789012345.123456789012345678901234567890", VT_DECIMAL),
         9223372036854775807LL, 1.5, true, date_value(L"2024-02-29"), date_value(L"2023-01-05 00:00:00.000400"),
         ole_variant(std::vector<std::uint8_t>{0, 1, 2, 0xff, 0}), L"a\"b.c"},
        {2, null_value(), L"", null_value(), null_value(), null_value(), null_value(), null_value(), null_value(),
         null_value(), null_value()},
        {3, L"\u00e9t\u00e9 \u4e2d\U0001F600", L"\\N", -1, -5LL, -0.25, false, date_value(L"0000-00-00"),
         date_value(L"1999-12-31 23:59:59"), ole_variant(std::vector<std::uint8_t>{}), L""},
        {250, L"last", L"x\\'); DROP TABLE shop.items; --", 0, 0LL, 0.0, true, null_value(), null_value(), null_value(), L"z"},
    };

    {
        auto db = open();
        db->query(L"set client_encoding to 'UTF8'");
        db->create_schema(L"Shop");
        db->create_schema(L"odd$$name'");
        for (bool fast : {true, false}) {
            engine->fast_insert = fast;
            // The second table's source continues from 300: the script keeps that.
            s.seed = fast ? 1 : 300;
            auto rs = db->create_table1(fast ? L"Shop.Items" : L"Shop.Items_Ins", s, idx);
            for (const auto& values : rows) {
                udb_record r = make_record(s, values);
                rs->append_record(r);
            }
        }
        db->close();
    }

    std::string output;
    ASSERT_EQ(run_psql(dbname, path, output), 0) << output << "\n" << read_file(path);

    pqxx::connection c(test_env::pg_conninfo(dbname));
    pqxx::work tx(c);
    auto as_text = [&](const std::string& table) {
        std::string all;
        auto r = tx.exec("SELECT id, name, note, price::text, qty, ratio, flag, born, stamp, "
                         "encode(data, 'hex'), \"we_ird.col\" FROM shop." + table + " ORDER BY id");
        for (const auto& row : r) {
            for (const auto& f : row) all += (f.is_null() ? std::string("<null>") : f.as<std::string>()) + "|";
            all += "\n";
        }
        return all;
    };
    const std::string expected =
        "1|plain|tab\there\r\nline two \\ back 'quote'|12345678901234567890123456789012345.123456789012345678901234567890|"
        "9223372036854775807|1.5|t|2024-02-29|2023-01-05 00:00:00.0004|000102ff00|a\"b.c|\n"
        "2|<null>||<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|\n"
        "3|\xc3\xa9t\xc3\xa9 \xe4\xb8\xad\xf0\x9f\x98\x80|\\N|-1.000000000000000000000000000000|-5|-0.25|f|<null>|"
        "1999-12-31 23:59:59|||\n"
        "250|last|x\\'); DROP TABLE shop.items; --|0.000000000000000000000000000000|0|0|t|<null>|<null>|<null>|z|\n";
    EXPECT_EQ(as_text("items"), as_text("items_ins"));
    std::string got = as_text("items");
    EXPECT_EQ(got, expected);

    EXPECT_EQ(tx.exec("SELECT count(*) FROM pg_namespace WHERE nspname = 'odd$$name'''").at(0).at(0).as<int>(), 1);
    // Keys arrived, and the serial column continues after the highest id.
    EXPECT_EQ(tx.exec("SELECT count(*) FROM pg_constraint WHERE contype = 'p' AND conrelid = 'shop.items'::regclass")[0][0].as<int>(), 1);
    EXPECT_EQ(tx.exec("INSERT INTO shop.items(name) VALUES ('new') RETURNING id")[0][0].as<int>(), 251);
    EXPECT_EQ(tx.exec("INSERT INTO shop.items_ins(name) VALUES ('new') RETURNING id")[0][0].as<int>(), 301);
}

}  // namespace

namespace {

// A script that decides when it is loaded never drops the database, and drops no table with
// CASCADE: a table the database has stays as it is (keep), gets only the rows whose key it
// lacks (merge), or is replaced when nothing else depends on it (overwrite); a table it lacks
// is made with every row. Rows whose text psql would misread as SQL or as its own commands (an
// open quote, a backslash line) stay out of the branch psql skips. Loaded twice, a merge
// changes nothing.
TEST_F(psql_load_test, a_script_deciding_when_loaded_drops_only_what_its_mode_drops)
{
    udb_schema s;
    s.add_column(column(L"id", VT_I4, 0, true, true));
    s.add_column(column(L"note", VT_BSTR));
    udb_indexes idx;
    idx.push_back(udb_index(L"PRIMARY", true, true, {L"id"}));
    const std::vector<std::vector<ole_variant>> rows = {
        {1, L"O'Brien"}, {2, L"\\endif\n\\.\n\\if"}, {3, L"tab\tquote\"$$"}};
    const std::string all_rows = "1|O'Brien,2|\\endif\n\\.\n\\if,3|tab\tquote\"$$";

    pqxx::connection c(test_env::pg_conninfo(dbname));
    auto query = [&](const std::string& sql) {
        pqxx::nontransaction tx(c);
        const auto r = tx.exec(sql);
        return r.empty() || r[0][0].is_null() ? std::string() : r[0][0].as<std::string>();
    };
    const char* table_rows = "SELECT string_agg(id || '|' || note, ',' ORDER BY id) FROM ";
    for (const pgs_existing_table rule :
         {pgs_existing_table::keep, pgs_existing_table::merge, pgs_existing_table::overwrite}) {
        for (const bool fast : {true, false}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(rule)) + (fast ? " copy" : " insert"));
            engine->fast_insert = fast;
            pgs_dump_options o = plain_options();
            o.create_database = true;
            o.existing_tables = rule;
            {
                auto db = open(o);
                for (const wchar_t* table : {L"kept", L"made"}) {
                    udb_indexes table_idx = idx;
                    auto rs = db->create_table1(table, s, table_idx);
                    for (const auto& values : rows) {
                        udb_record r = make_record(s, values);
                        rs->append_record(r);
                    }
                }
                db->close();
            }
            const std::string script = read_file(path);
            EXPECT_EQ(script.find("DROP DATABASE"), std::string::npos);
            EXPECT_EQ(script.find("DROP TABLE IF EXISTS \"public\""), std::string::npos);
            EXPECT_EQ(script.find("CASCADE"), std::string::npos);

            query("DROP TABLE IF EXISTS kept, made; CREATE TABLE kept (id integer PRIMARY KEY, note text);"
                  "INSERT INTO kept VALUES (1, 'pg only')");
            for (int load = 1; load <= 2; ++load) {
                SCOPED_TRACE(load);
                std::string output;
                ASSERT_EQ(run_psql(dbname, path, output), 0) << output << "\n" << script;
                EXPECT_EQ(output.find("ERROR"), std::string::npos) << output;
                EXPECT_EQ(output.find("WARNING"), std::string::npos) << output;
                EXPECT_EQ(query(std::string(table_rows) + "made"), all_rows);
                EXPECT_EQ(query(std::string(table_rows) + "kept"),
                          rule == pgs_existing_table::keep        ? "1|pg only"
                          : rule == pgs_existing_table::overwrite ? all_rows
                                                                  : "1|pg only,2|\\endif\n\\.\n\\if,3|tab\tquote\"$$");
            }
            // The made table has its key, and its serial column goes on after the rows.
            EXPECT_EQ(query("SELECT count(*) FROM pg_constraint WHERE contype = 'p' AND conrelid = 'made'::regclass"),
                      "1");
            EXPECT_EQ(query("INSERT INTO made(note) VALUES ('new') RETURNING id"), "4");
        }
    }
}

// A script that keeps tables chooses them with \if (psql 10 and later). An older psql takes \if,
// \else and \endif for unknown commands and would run every branch: rows added to a table the
// mode keeps. Such a psql (played here by renaming those commands, which is how it reads them)
// stops before the first table with an error status, even without ON_ERROR_STOP; psql 10 and
// later load the script as before and leave ON_ERROR_STOP as the user set it.
TEST_F(psql_load_test, a_psql_without_if_stops_before_a_keeping_script_changes_anything)
{
    udb_schema s;
    s.add_column(column(L"id", VT_I4));
    s.add_column(column(L"note", VT_BSTR));
    pqxx::connection c(test_env::pg_conninfo(dbname));
    auto query = [&](const std::string& sql) {
        pqxx::nontransaction tx(c);
        const auto r = tx.exec(sql);
        return r.empty() || r[0][0].is_null() ? std::string() : r[0][0].as<std::string>();
    };
    const char* kept_rows = "SELECT string_agg(id || '|' || note, ',' ORDER BY id) FROM kept";
    for (const pgs_existing_table rule :
         {pgs_existing_table::keep, pgs_existing_table::merge, pgs_existing_table::overwrite}) {
        SCOPED_TRACE(static_cast<int>(rule));
        pgs_dump_options o = plain_options();
        o.existing_tables = rule;
        {
            auto db = open(o);
            udb_indexes idx;
            {
                auto rs = db->create_table1(L"kept", s, idx);
                for (int id : {1, 2}) {
                    udb_record r = make_record(s, {id, L"script"});
                    rs->append_record(r);
                }
            }
            db->close();
        }
        const std::string script = read_file(path);
        query("DROP TABLE IF EXISTS kept, after_error; CREATE TABLE kept (id integer, note text);"
              "INSERT INTO kept VALUES (1, 'pg only')");

        // psql 9: every meta-command of the conditional blocks is unknown to it.
        std::string old = script;
        for (const char* command : {"\\if ", "\\else\r", "\\endif\r"})
            for (std::size_t at = old.find(command); at != std::string::npos; at = old.find(command, at + 2))
                if (at == 0 || old[at - 1] == '\n') old.insert(at + 1, "old_");
        const std::string old_path = path + ".old.sql";
        {
            std::ofstream out(old_path, std::ios::binary);
            out << old;
        }
        std::string output;
        EXPECT_NE(run_psql(dbname, old_path, output, false), 0) << output;
        EXPECT_NE(output.find("needs psql 10 or later"), std::string::npos) << output;
        EXPECT_EQ(query(kept_rows), "1|pg only");
        EXPECT_EQ(query("SELECT count(*) FROM pg_class WHERE relname = 'kept'"), "1");
        std::remove(old_path.c_str());

        // psql 15, without ON_ERROR_STOP: the guard is skipped and does not set it.
        {
            std::ofstream out(path, std::ios::binary | std::ios::app);
            out << "SELECT 1/0;\r\nCREATE TABLE after_error ();\r\n";
        }
        ASSERT_EQ(run_psql(dbname, path, output, false), 0) << output;
        EXPECT_EQ(output.find("needs psql"), std::string::npos) << output;
        EXPECT_EQ(query("SELECT count(*) FROM pg_class WHERE relname = 'after_error'"), "1") << output;
        EXPECT_EQ(query(kept_rows), rule == pgs_existing_table::keep        ? "1|pg only"
                                    : rule == pgs_existing_table::overwrite ? "1|script,2|script"
                                                                            : "1|pg only,1|script,2|script")
            << output;
    }
}

// A view, a foreign key, an index or a column default the script's encoding cannot hold (its name or its
// text) is left out alone, as a live run leaves it: counted, noted in the script by its characters' code points,
// and the rest is written; in a script that keeps tables, no conditional block is left open.
TEST_F(psql_load_test, what_the_script_encoding_cannot_hold_fails_alone)
{
    pqxx::connection c(test_env::pg_conninfo(dbname));
    auto query = [&](const std::string& sql) {
        pqxx::nontransaction tx(c);
        return tx.exec(sql)[0][0].as<std::string>();
    };
    for (const pgs_existing_table rule : {pgs_existing_table::replace, pgs_existing_table::keep}) {
        SCOPED_TRACE(static_cast<int>(rule));
        udb_failure_counts counts;
        udb_failure_counting counting(counts);
        pgs_dump_options o = plain_options();
        o.existing_tables = rule;
        {
            auto db = open(o);
            db->query(L"set client_encoding to 'LATIN1'");
            udb_schema s;
            s.add_column(column(L"id", VT_I4, 0, true));
            s.add_column(column(L"r", VT_I4));
            s.add_column(column(L"cur", VT_BSTR, 5));
            s[2].default_value = ole_variant(L"\u20ac");
            s.add_column(column(L"n", VT_BSTR, 5));
            s[3].default_value = ole_variant(L"\u00eb");
            for (const wchar_t* table : {L"par", L"kid"}) {
                udb_indexes idx;
                idx.push_back(udb_index(L"PRIMARY", true, true, {L"id"}));
                idx.push_back(udb_index(L"i\u20ac", false, false, {L"r"}));
                auto rs = db->create_table1(table, s, idx);
                udb_record r = make_record(s, {1, 1, L"x", L"y"});
                rs->append_record(r);
            }
            db->create_relationships({udb_relationship(L"fk\u20ac", L"", L"kid", L"par", {L"r"}, {L"id"}, L""),
                                      udb_relationship(L"fk_ok", L"", L"kid", L"par", {L"r"}, {L"id"}, L"")});
            db->create_views({{L"v\u20ac", L"SELECT 1 AS a"},
                              {L"priced", L"SELECT '5 \u20ac' AS price"},
                              {L"zo\u00eb", L"SELECT 2 AS b"}});
            db->close();
        }
        EXPECT_EQ(counts.views.load(), 2u);
        EXPECT_EQ(counts.keys.load(), 1u);
        EXPECT_EQ(counts.columns.load(), 2u);
        EXPECT_EQ(counts.indexes.load(), 2u);
        EXPECT_EQ(counts.tables.load(), 0u);
        const std::string text = read_file(path);
        EXPECT_NE(text.find("-- View 'vU+20AC' was not converted: "), std::string::npos) << text;
        EXPECT_NE(text.find("-- View 'priced' was not converted: "), std::string::npos) << text;
        EXPECT_NE(text.find("-- Foreign key 'fkU+20AC' of table 'kid' was not converted: "), std::string::npos)
            << text;
        EXPECT_EQ(text.find("\xe2\x82\xac"), std::string::npos);

        query("DROP VIEW IF EXISTS \"zo\u00eb\"; DROP TABLE IF EXISTS kid, par; SELECT 1");
        std::string output;
        ASSERT_EQ(run_psql(dbname, path, output), 0) << output << text;
        EXPECT_EQ(output.find("WARNING"), std::string::npos) << output;
        EXPECT_EQ(query("SELECT string_agg(conname, ',') FROM pg_constraint WHERE contype = 'f'"), "fk_ok");
        EXPECT_EQ(query("SELECT count(*) FROM pg_views WHERE viewname = 'zo\u00eb'"), "1");
        // Both tables with their row and primary key; only the default of "cur" and the index
        // named beyond the encoding are missing.
        EXPECT_EQ(query("SELECT count(*) FROM pg_index WHERE indrelid IN ('par'::regclass, 'kid'::regclass)"), "2");
        EXPECT_EQ(query("SELECT (SELECT count(*) FROM par) + (SELECT count(*) FROM kid)"), "2");
        EXPECT_EQ(query("SELECT string_agg(table_name || '.' || column_name || '=' || coalesce(column_default, '-'), "
                        "',' ORDER BY table_name, column_name) FROM information_schema.columns WHERE table_name "
                        "IN ('par', 'kid') AND column_name IN ('cur', 'n')"),
                  "kid.cur=-,kid.n='\u00eb'::character varying,par.cur=-,par.n='\u00eb'::character varying");
    }
}

// Rows the server would refuse fail on their own, before any of them reaches the script, with
// the report a live run gives: a NULL (a zero date) in a NOT NULL column, and a text holding the
// character U+0000 (PostgreSQL text cannot hold it; cutting it there would lose data silently).
// The rest of the rows load with ON_ERROR_STOP.
TEST_F(psql_load_test, rows_the_server_would_refuse_fail_alone_and_the_script_stays_loadable)
{
    udb_schema s;
    s.add_column(column(L"id", VT_I4, 0, true));
    s.add_column(column(L"at", VT_DATE, 0, true, false, 1));
    s.add_column(column(L"body", VT_BSTR));
    s.add_column(column(L"data", VT_ARRAY | VT_UI1));
    const std::wstring zero(L"it's\0zero", 9);
    const std::wstring large_zero = std::wstring(pgs_dmp_recordset::large_value_size + 10, L'a') + L'\0';
    const std::vector<std::vector<ole_variant>> rows = {
        {1, date_value(L"0000-00-00 00:00:00"), L"zero date", null_value()},
        {2, date_value(L"2020-01-01 10:00:00"), zero, null_value()},
        {3, date_value(L"2020-01-01 10:00:00"), L"ok", ole_variant(std::vector<std::uint8_t>{0, 0x27, 0})},
        {4, null_value(), L"missing", null_value()},
        {5, date_value(L"2021-06-01 00:00:00"), large_zero, null_value()},
        {6, date_value(L"2021-06-01 00:00:00"), L"", null_value()},
    };
    std::vector<std::string> errors;
    {
        auto db = open();
        for (bool fast : {true, false}) {
            engine->fast_insert = fast;
            auto rs = db->create_table1(fast ? L"stamps" : L"stamps_ins", s, *std::make_unique<udb_indexes>());
            for (const auto& values : rows) {
                udb_record r = make_record(s, values);
                try {
                    rs->append_record(r);
                } catch (const pgs_exception& e) {
                    EXPECT_EQ(e.get_level(), 0);
                    errors.push_back(e.what() + (" / " + e.sqlstate()));
                }
            }
        }
        db->close();
    }
    const std::string text = read_file(path);
    EXPECT_EQ(text.find('\0'), std::string::npos);
    EXPECT_EQ(text.find("\\N\tzero date"), std::string::npos);
    const std::vector<std::string> one_form = {
        "null value in column \"at\" of relation \"stamps\" violates not-null constraint / 23502",
        "Column \"body\" contains a zero character, which PostgreSQL text cannot hold / ",
        "null value in column \"at\" of relation \"stamps\" violates not-null constraint / 23502",
        "Column \"body\" contains a zero character, which PostgreSQL text cannot hold / ",
    };
    std::vector<std::string> expected = one_form;
    for (std::string e : one_form) {
        const auto at = e.find("\"stamps\"");
        if (at != std::string::npos) e.replace(at, 8, "\"stamps_ins\"");
        expected.push_back(e);
    }
    EXPECT_EQ(errors, expected);

    std::string output;
    ASSERT_EQ(run_psql(dbname, path, output), 0) << output;
    pqxx::connection c(test_env::pg_conninfo(dbname));
    pqxx::work tx(c);
    for (const char* table : {"stamps", "stamps_ins"}) {
        const auto r = tx.exec(std::string("SELECT id, at::text, body, encode(data, 'hex') FROM ") + table +
                               " ORDER BY id");
        ASSERT_EQ(r.size(), 2u) << table;
        EXPECT_EQ(r[0][0].as<int>(), 3);
        EXPECT_EQ(r[0][2].as<std::string>(), "ok");
        EXPECT_EQ(r[0][3].as<std::string>(), "002700");
        EXPECT_EQ(r[1][0].as<int>(), 6);
        EXPECT_EQ(r[1][2].as<std::string>(), "");
    }
}

}  // namespace

namespace {

// What the loading server may refuse, and the run cannot know, is guarded: a default whose
// function the server lacks and a unique index over rows it finds equal are warnings naming
// them; the other defaults, the rows and the next table still arrive.
TEST_F(psql_load_test, refused_defaults_and_indexes_are_warnings_and_the_script_loads_to_its_end)
{
    udb_schema s;
    s.add_column(column(L"id", VT_I4, 0, true));
    s.add_column(column(L"qty", VT_I4));
    s[1].default_value = ole_variant(5);
    s.add_column(column(L"made", VT_BSTR, 20));
    s[2].default_value = ole_variant(std::wstring(L"no_such_function()"));
    s[2].default_is_expression = true;
    s.add_column(column(L"code", VT_I4));
    udb_indexes idx;
    idx.push_back(udb_index(L"PRIMARY", true, true, {L"id"}));
    idx.push_back(udb_index(L"ux_code", true, false, {L"code"}));
    udb_schema later;
    later.add_column(column(L"id", VT_I4));
    {
        auto db = open();
        db->set_indexes_after_rows(true);  // as a run does
        {
            auto rs = db->create_table1(L"stock", s, idx);
            for (int id : {1, 2}) {
                udb_record r = make_record(s, {id, 1, L"x", 7});  // the same code twice
                rs->append_record(r);
            }
        }
        db->build_deferred_indexes();
        {
            auto rs = db->create_table1(L"later", later, *std::make_unique<udb_indexes>());
            udb_record r = make_record(later, {9});
            rs->append_record(r);
        }
        db->close();
    }
    std::string output;
    ASSERT_EQ(run_psql(dbname, path, output), 0) << output << "\n" << read_file(path);
    EXPECT_NE(output.find("The default of column 'made' of table 'stock' was not created"), std::string::npos)
        << output;
    EXPECT_NE(output.find("Index 'ux_code' of table 'stock' was not created"), std::string::npos) << output;

    pqxx::connection c(test_env::pg_conninfo(dbname));
    pqxx::work tx(c);
    EXPECT_EQ(tx.exec("SELECT count(*) FROM stock")[0][0].as<int>(), 2);
    EXPECT_EQ(tx.exec("SELECT count(*) FROM later WHERE id = 9")[0][0].as<int>(), 1);
    EXPECT_EQ(tx.exec("SELECT count(*) FROM pg_constraint WHERE contype = 'p' AND conrelid = 'stock'::regclass")[0][0]
                  .as<int>(),
              1);
    EXPECT_EQ(tx.exec("INSERT INTO stock (id) VALUES (3) RETURNING qty::text || coalesce(made, '-')")[0][0]
                  .as<std::string>(),
              "5-");
}

}  // namespace
