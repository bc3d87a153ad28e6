// Whole conversions from the MySQL test server into the PostgreSQL one,
// through the test front end.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <unistd.h>

#include "driver/conversion_run.h"
#include "driver/driver_test_support.h"
#include "pg_target/pgs_connection.h"

namespace {

std::string narrow(const std::wstring& w)
{
    return tk_unicode_to_utf8(w);
}

}  // namespace

class conversion_run_test : public driver_server_test {
protected:
    void small_source()
    {
        source("CREATE TABLE customers (id INT PRIMARY KEY, name VARCHAR(40) NOT NULL, city VARCHAR(30));"
               "INSERT INTO customers VALUES (1,'Ann','Oslo'),(2,'Bob',NULL),(3,'Cé''cile','Lyon');"
               "CREATE TABLE items (id INT PRIMARY KEY, code VARCHAR(10), price DECIMAL(10,2), UNIQUE KEY uk_code (code));"
               "INSERT INTO items VALUES (1,'100',9.50),(2,'200',12.25);"
               "CREATE TABLE empty_one (id INT PRIMARY KEY, note TEXT)");
    }
};

TEST_F(conversion_run_test, converts_tables_a_custom_query_and_a_table_mutator_into_a_new_database)
{
    small_source();
    conv->selected_tables = {L"customers", L"items", L"empty_one"};
    conv->query_list.emplace_back(L"rich", L"SELECT id, name FROM customers WHERE id > 1");
    // items becomes goods; its code column becomes an integer named code_num.
    pgs_table_mutator* tm = conv->get_table_mutator2(L"items", L"goods");
    pgs_native_type integer;
    integer.type = L"INTEGER";
    tm->update_field(L"code", L"code_num", integer);

    run();

    EXPECT_EQ(conv->outcome(), conversion_outcome::completed);
    EXPECT_TRUE(conv->is_finished());
    EXPECT_TRUE(hooks.reports().empty()) << hooks.reports().front();
    EXPECT_EQ(rows("SELECT id, name, city FROM customers ORDER BY id"),
              (std::vector<std::string>{"1|Ann|Oslo", "2|Bob|NULL", "3|Cé'cile|Lyon"}));
    EXPECT_EQ(rows("SELECT id, code_num, price FROM goods ORDER BY id"),
              (std::vector<std::string>{"1|100|9.50", "2|200|12.25"}));
    EXPECT_EQ(rows("SELECT data_type FROM information_schema.columns WHERE table_name='goods' AND "
                   "column_name='code_num'"),
              std::vector<std::string>{"integer"});
    EXPECT_EQ(rows("SELECT id, name FROM rich ORDER BY id"), (std::vector<std::string>{"2|Bob", "3|Cé'cile"}));
    EXPECT_TRUE(dest_table_exists("public", "empty_one"));
    // The primary key came along.
    EXPECT_EQ(rows("SELECT count(*) FROM information_schema.table_constraints WHERE table_name='customers' AND "
                   "constraint_type='PRIMARY KEY'"),
              std::vector<std::string>{"1"});

    // Progress: the database line counts the query too; queries go first; an
    // empty table still gets its line.
    ASSERT_EQ(hooks.lines.size(), 5u);
    EXPECT_EQ(narrow(hooks.lines[0]), "Converting database '" + source_name + "' (4 tables)\r\n");
    EXPECT_EQ(narrow(hooks.lines[1]), "Converting table rich (2 records)\r\n");
    EXPECT_EQ(narrow(hooks.lines[2]), "Converting table customers (3 records)\r\n");
    EXPECT_EQ(narrow(hooks.lines[3]), "Converting table items (2 records)\r\n");
    EXPECT_EQ(narrow(hooks.lines[4]), "Converting table empty_one (0 records)\r\n");
    EXPECT_EQ(hooks.timer_period, 200);

    // Counters after a normal end: item counters back to 0, the last item's stay.
    EXPECT_EQ(conv->get_items_total(), 0u);
    EXPECT_EQ(conv->get_items_done(), 0u);
    EXPECT_EQ(conv->get_current_table(), L"empty_one");
    EXPECT_EQ(conv->get_record_count(), 0u);
    // The selected tables were appended to the work list, behind the query.
    ASSERT_EQ(conv->query_list.size(), 4u);
    EXPECT_EQ(conv->query_list[0].first, L"rich");
    EXPECT_EQ(conv->query_list[3], (udb_work_item{L"empty_one", L""}));
}

TEST_F(conversion_run_test, a_schema_setting_creates_the_schema_and_puts_every_table_in_it)
{
    small_source();
    conv->selected_tables = {L"customers", L"items"};
    conv->set_pgs_schema(L"sales");
    conv->tab_def = true;  // only definitions: tables, no rows
    run();
    EXPECT_EQ(conv->outcome(), conversion_outcome::completed);
    EXPECT_TRUE(dest_table_exists("sales", "customers"));
    EXPECT_TRUE(dest_table_exists("sales", "items"));
    EXPECT_EQ(rows("SELECT count(*) FROM sales.customers"), std::vector<std::string>{"0"});
    ASSERT_EQ(hooks.lines.size(), 5u);
    EXPECT_EQ(narrow(hooks.lines[1]), "Creating schema if necessary: 'sales'\r\n");
    EXPECT_EQ(narrow(hooks.lines[2]), "Converting table customers (3 records)\r\n");
}

// A listed name is the source's table only when the source (or, for another spelling of the
// case, the server itself) takes it so; a missing one is reported and not counted.
TEST_F(conversion_run_test, a_table_listed_twice_is_converted_once_and_a_missing_one_is_reported)
{
    small_source();
    const bool server_keeps_case = source_value("SELECT @@lower_case_table_names") == "0";

    conv->query_list.emplace_back(L"customers", L"");
    conv->selected_tables = {L"customers", L"items ", L"no_such_table", L"ITEMS"};
    run();
    EXPECT_EQ(conv->outcome(), conversion_outcome::completed);
    std::vector<std::string> expected = {"Table 'no_such_table' does not exist in the source database '" +
                                         source_name + "'"};
    if (server_keeps_case)
        expected.push_back("Table 'ITEMS' does not exist in the source database '" + source_name + "'");
    EXPECT_EQ(hooks.reports(), expected);
    EXPECT_EQ(conv->failures.tables.load(), expected.size());
    EXPECT_EQ(narrow(hooks.lines[0]), "Converting database '" + source_name + "' (2 tables)\r\n");
    EXPECT_EQ(narrow(hooks.lines[1]), "Converting table customers (3 records)\r\n");
    // "items " is the source's items: converted under the source's name.
    EXPECT_EQ(narrow(hooks.lines[2]), "Converting table items (2 records)\r\n");
    EXPECT_EQ(rows("SELECT count(*) FROM customers"), std::vector<std::string>{"3"});
    EXPECT_EQ(rows("SELECT count(*) FROM items"), std::vector<std::string>{"2"});
    EXPECT_EQ(rows("SELECT count(*) FROM information_schema.tables WHERE table_schema = 'public'"),
              std::vector<std::string>{"2"});
}

struct listed_name_case {
    const char* name;
    std::vector<std::wstring> source;
    std::wstring listed;
    bool server_ignores_case;
    std::wstring expected;  // "" for a table the source lacks
};
std::ostream& operator<<(std::ostream& os, const listed_name_case& c) { return os << c.name; }

class listed_name_test : public ::testing::TestWithParam<listed_name_case> {};

TEST_P(listed_name_test, is_the_source_table_of_that_name_or_none)
{
    const listed_name_case& c = GetParam();
    std::vector<std::wstring> asked;
    const std::unordered_set<std::wstring> source(c.source.begin(), c.source.end());
    const std::wstring got = source_table_name(source, c.listed, [&](const std::wstring& name) {
        asked.push_back(name);
        return c.server_ignores_case;
    });
    EXPECT_EQ(got, c.expected);
    // The server is asked only about another spelling of the case.
    for (const std::wstring& name : asked)
        EXPECT_EQ(std::find(c.source.begin(), c.source.end(), name), c.source.end());
}

INSTANTIATE_TEST_SUITE_P(
    cases, listed_name_test,
    ::testing::Values(
        listed_name_case{"exact", {L"CaseT", L"caset"}, L"caset", false, L"caset"},
        listed_name_case{"case_on_a_server_that_keeps_it", {L"MixedCase"}, L"MIXEDCASE", false, L""},
        listed_name_case{"case_on_a_server_that_ignores_it", {L"MixedCase"}, L"MIXEDCASE", true, L"MixedCase"},
        listed_name_case{"two_spellings_cannot_be_told_apart", {L"CaseT", L"caset"}, L"CASET", true, L""},
        listed_name_case{"blanks_at_the_ends_trimmed", {L"orders"}, L"  orders ", false, L"orders"},
        listed_name_case{"a_name_with_a_blank_matches_first", {L" sp", L"sp"}, L" sp", false, L" sp"},
        listed_name_case{"trimmed_then_case", {L"Orders"}, L"orders ", true, L"Orders"},
        listed_name_case{"blanks_only", {L"orders"}, L"   ", true, L""},
        listed_name_case{"missing", {L"orders"}, L"items", true, L""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(conversion_run_test, the_console_form_converts_every_source_table_when_nothing_is_selected)
{
    small_source();
    run();
    EXPECT_EQ(narrow(hooks.lines[0]), "Converting database '" + source_name + "' (3 tables)\r\n");
    EXPECT_TRUE(dest_table_exists("public", "empty_one"));
}

TEST_F(conversion_run_test, a_connection_the_server_ended_before_the_run_is_opened_again)
{
    // The wizard connects pages before it runs; the server may end that session meanwhile (an
    // idle timeout, a restart).
    small_source();
    conv->selected_tables = {L"customers"};
    const int pid = conv->get_pgs_engine().connection()->get().backendpid();
    pqxx::connection admin(test_env::pg_conninfo());
    pqxx::nontransaction(admin).exec("SELECT pg_terminate_backend(" + std::to_string(pid) + ")");
    run();
    EXPECT_EQ(conv->outcome(), conversion_outcome::completed);
    EXPECT_TRUE(hooks.reports().empty()) << hooks.reports().front();
    EXPECT_EQ(rows("SELECT count(*) FROM customers"), (std::vector<std::string>{"3"}));
}

TEST_F(conversion_run_test, a_row_that_cannot_be_converted_fails_alone_with_its_record_number)
{
    // The user maps a BIGINT and a DECIMAL column to INTEGER; one value does not fit, one has a
    // fraction that INTEGER would round away: both rows fail, the same rule for both.
    source("CREATE TABLE parts (id INT PRIMARY KEY, code BIGINT, price DECIMAL(8,2));"
           "INSERT INTO parts VALUES (1,10,12.00),(2,5000000000,1),(3,30,4.50),(4,40,-7)");
    conv->selected_tables = {L"parts"};
    pgs_native_type integer;
    integer.type = L"INTEGER";
    conv->get_table_mutator2(L"parts", L"parts")->update_field(L"code", L"code", integer);
    conv->get_table_mutator2(L"parts", L"parts")->update_field(L"price", L"price", integer);
    run();
    EXPECT_EQ(conv->outcome(), conversion_outcome::completed);
    EXPECT_EQ(rows("SELECT id, code, price FROM parts ORDER BY id"), (std::vector<std::string>{"1|10|12", "4|40|-7"}));
    ASSERT_EQ(hooks.continues.size(), 2u);
    EXPECT_EQ(hooks.continues[0].rfind("parts, record #2: ", 0), 0u) << hooks.continues[0];
    EXPECT_EQ(hooks.continues[1].rfind("parts, record #3: ", 0), 0u) << hooks.continues[1];
    EXPECT_NE(hooks.continues[1].find("'4.50'"), std::string::npos) << hooks.continues[1];
}

// Rows the destination refuses, by COPY and by INSERT: each is reported with
// its record number and the other rows land.
class rejected_row_test : public conversion_run_test, public ::testing::WithParamInterface<bool> {};

TEST_P(rejected_row_test, a_refused_row_is_reported_with_its_record_number_while_the_others_land)
{
    const bool copy = GetParam();
    source("CREATE TABLE stock (id INT PRIMARY KEY, qty INT);"
           "INSERT INTO stock VALUES (1,5),(2,-1),(3,7),(4,-2),(5,9)");
    // An existing destination table with a rule the source does not have; the
    // whole-database mode opens it as it is.
    dest("CREATE TABLE stock (id INTEGER PRIMARY KEY, qty INTEGER CHECK (qty >= 0))");
    conv->get_pgs_engine().fast_insert = copy;
    conv->selected_tables = {L"stock"};
    run();
    EXPECT_EQ(conv->outcome(), conversion_outcome::completed);
    ASSERT_EQ(hooks.continues.size(), 2u);
    EXPECT_EQ(hooks.continues[0].rfind("stock, record #2: ", 0), 0u) << hooks.continues[0];
    EXPECT_EQ(hooks.continues[1].rfind("stock, record #4: ", 0), 0u) << hooks.continues[1];
    EXPECT_EQ(rows("SELECT id FROM stock ORDER BY id"), (std::vector<std::string>{"1", "3", "5"}));
}

INSTANTIATE_TEST_SUITE_P(by_copy_and_insert, rejected_row_test, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "copy" : "insert"; });

// ---------------------------------------------------------------------------
// Modes for an existing destination

class existing_destination_test : public conversion_run_test {
protected:
    void SetUp() override
    {
        conversion_run_test::SetUp();
        source("CREATE TABLE t (id INT PRIMARY KEY, name VARCHAR(20), qty INT);"
               "INSERT INTO t VALUES (1,'new one',1),(2,'two',2),(3,'bad',-3),(4,'four',4);"
               "CREATE TABLE u (id INT PRIMARY KEY);"
               "INSERT INTO u VALUES (10),(11)");
        dest("CREATE TABLE t (id INTEGER PRIMARY KEY, name VARCHAR(20), qty INTEGER CHECK (qty >= 0));"
             "INSERT INTO t VALUES (1,'old one',100),(9,'kept',9);"
             "CREATE TABLE other (x INTEGER);");
        conv->selected_tables = {L"t", L"u"};
    }
};

TEST_F(existing_destination_test, mode_0_drops_and_recreates_the_whole_database)
{
    conv->set_mode(0);
    conv->check_dest();
    EXPECT_FALSE(dest_exists());
    run();
    EXPECT_EQ(conv->outcome(), conversion_outcome::completed);
    EXPECT_TRUE(hooks.reports().empty());
    EXPECT_FALSE(dest_table_exists("public", "other"));
    EXPECT_EQ(rows("SELECT id, name, qty FROM t ORDER BY id"),
              (std::vector<std::string>{"1|new one|1", "2|two|2", "3|bad|-3", "4|four|4"}));
}

TEST_F(existing_destination_test, mode_1_drops_and_recreates_existing_tables_only)
{
    conv->set_mode(1);
    conv->check_dest();
    run();
    EXPECT_TRUE(hooks.reports().empty());
    EXPECT_TRUE(dest_table_exists("public", "other"));
    EXPECT_EQ(rows("SELECT id, name FROM t ORDER BY id"),
              (std::vector<std::string>{"1|new one", "2|two", "3|bad", "4|four"}));
    EXPECT_EQ(rows("SELECT count(*) FROM u"), std::vector<std::string>{"2"});
}

TEST_F(existing_destination_test, mode_2_skips_existing_tables_without_a_word)
{
    conv->set_mode(2);
    run();
    EXPECT_TRUE(hooks.reports().empty());
    EXPECT_EQ(rows("SELECT id, name FROM t ORDER BY id"), (std::vector<std::string>{"1|old one", "9|kept"}));
    EXPECT_EQ(rows("SELECT count(*) FROM u"), std::vector<std::string>{"2"});
    // No line for the skipped table.
    ASSERT_EQ(hooks.lines.size(), 2u);
    EXPECT_EQ(narrow(hooks.lines[1]), "Converting table u (2 records)\r\n");
}

TEST_F(existing_destination_test, mode_3_merges_skipping_duplicate_keys_and_reporting_other_refusals)
{
    conv->get_pgs_engine().fast_insert = true;
    conv->set_mode(3);
    run();
    EXPECT_EQ(conv->outcome(), conversion_outcome::completed);
    // The existing row keeps its values; the CHECK violation is reported.
    EXPECT_EQ(rows("SELECT id, name, qty FROM t ORDER BY id"),
              (std::vector<std::string>{"1|old one|100", "2|two|2", "4|four|4", "9|kept|9"}));
    ASSERT_EQ(hooks.continues.size(), 1u) << hooks.continues.front();
    EXPECT_EQ(hooks.continues[0].rfind("t, record #3: ", 0), 0u) << hooks.continues[0];
    // The existing table took its rows by INSERT; the user's COPY setting stays.
    EXPECT_TRUE(conv->get_pgs_engine().fast_insert);
    EXPECT_EQ(rows("SELECT count(*) FROM u"), std::vector<std::string>{"2"});
}

TEST_F(existing_destination_test, mode_4_synchronizes_a_changed_row_by_its_key)
{
    conv->set_mode(4);
    run();
    EXPECT_EQ(conv->outcome(), conversion_outcome::completed);
    EXPECT_EQ(rows("SELECT id, name, qty FROM t ORDER BY id"),
              (std::vector<std::string>{"1|new one|1", "2|two|2", "4|four|4", "9|kept|9"}));
    ASSERT_EQ(hooks.continues.size(), 1u);
    EXPECT_EQ(hooks.continues[0].rfind("t, record #3: ", 0), 0u) << hooks.continues[0];
}

TEST_F(existing_destination_test, mode_4_updates_with_the_record_after_the_field_mutators)
{
    // The source column name is renamed to title in the destination.
    dest("DROP TABLE t; CREATE TABLE t (id INTEGER PRIMARY KEY, title VARCHAR(20), qty INTEGER);"
         "INSERT INTO t VALUES (1,'old one',100)");
    pgs_native_type text;
    text.type = L"VARCHAR";
    text.length = 20;
    conv->get_table_mutator2(L"t", L"t")->update_field(L"name", L"title", text);
    conv->set_mode(4);
    run();
    EXPECT_TRUE(hooks.reports().empty()) << hooks.reports().front();
    EXPECT_EQ(rows("SELECT id, title, qty FROM t ORDER BY id"),
              (std::vector<std::string>{"1|new one|1", "2|two|2", "3|bad|-3", "4|four|4"}));
}

TEST_F(existing_destination_test, mode_4_replaces_a_row_in_the_one_statement_that_appends_it)
{
    // Each row change is logged with the client statement that made it.
    dest("CREATE TABLE changes (id INTEGER, op TEXT, statement TEXT);"
         "CREATE FUNCTION note_change() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
         "INSERT INTO changes VALUES (NEW.id, TG_OP, current_query()); RETURN NEW; END $$;"
         "CREATE TRIGGER t_changes AFTER INSERT OR UPDATE ON t FOR EACH ROW EXECUTE FUNCTION note_change()");
    conv->set_mode(4);
    run();
    EXPECT_EQ(rows("SELECT id, name, qty FROM t ORDER BY id"),
              (std::vector<std::string>{"1|new one|1", "2|two|2", "4|four|4", "9|kept|9"}));
    // One change per stored row, each made by the INSERT that carried the row.
    EXPECT_EQ(rows("SELECT id, op FROM changes ORDER BY id"),
              (std::vector<std::string>{"1|UPDATE", "2|INSERT", "4|INSERT"}));
    EXPECT_EQ(rows("SELECT count(*) FROM changes WHERE statement NOT LIKE 'INSERT INTO %'"),
              std::vector<std::string>{"0"});
    ASSERT_EQ(hooks.continues.size(), 1u);
    EXPECT_EQ(hooks.continues[0].rfind("t, record #3: ", 0), 0u) << hooks.continues[0];
}

TEST_F(existing_destination_test, mode_4_into_a_table_without_the_source_key_gets_the_key_first)
{
    // The table an ended run leaves: rows, no key yet.
    dest("DROP TABLE t; CREATE TABLE t (id INTEGER, name VARCHAR(20), qty INTEGER CHECK (qty >= 0));"
         "INSERT INTO t VALUES (1,'old one',100)");
    conv->set_mode(4);
    run();
    EXPECT_EQ(rows("SELECT id, name FROM t ORDER BY id, name"),
              (std::vector<std::string>{"1|new one", "2|two", "4|four"}));
    EXPECT_EQ(rows("SELECT pg_get_constraintdef(oid) FROM pg_constraint WHERE conrelid = 't'::regclass AND contype = 'p'"),
              std::vector<std::string>{"PRIMARY KEY (id)"});
    ASSERT_EQ(hooks.continues.size(), 1u);
    EXPECT_EQ(hooks.continues[0].rfind("t, record #3: ", 0), 0u) << hooks.continues[0];
    EXPECT_EQ(conv->failures.rows.load(), 1u);
}

TEST_F(existing_destination_test, mode_4_into_a_table_without_a_key_adds_the_rows_and_reports_refusals)
{
    dest("DROP TABLE t; CREATE TABLE t (id INTEGER, name VARCHAR(20), qty INTEGER CHECK (qty >= 0));"
         "INSERT INTO t VALUES (1,'old one',100)");
    // Without the source's indexes the run has no key to give the table.
    conv->skip_idx = true;
    conv->set_mode(4);
    run();
    EXPECT_EQ(rows("SELECT id, name FROM t ORDER BY id, name"),
              (std::vector<std::string>{"1|new one", "1|old one", "2|two", "4|four"}));
    // Said once for the table, once its rows went in; the refused row is counted.
    ASSERT_EQ(hooks.continues.size(), 2u);
    EXPECT_EQ(hooks.continues[0].rfind("t, record #3: ", 0), 0u) << hooks.continues[0];
    EXPECT_EQ(hooks.continues[1],
              "public.t: The table has no primary or unique key to merge on: its rows were appended.");
    EXPECT_EQ(conv->failures.rows.load(), 1u);
    EXPECT_EQ(conv->failures.tables.load(), 0u);
}

TEST_F(existing_destination_test, a_merge_key_that_allows_null_says_its_rows_were_appended)
{
    // The only key allows NULL: MySQL keeps both rows with NULL, and no merge can find
    // them among the rows there.
    source("CREATE TABLE uk (a INT, b INT NULL, v INT, UNIQUE (a, b));"
           "INSERT INTO uk VALUES (1,NULL,1),(1,NULL,5),(2,2,2)");
    conv->selected_tables = {L"uk"};
    run();
    ASSERT_EQ(rows("SELECT count(*) FROM uk"), std::vector<std::string>{"3"});
    EXPECT_TRUE(hooks.reports().empty());
    for (int mode : {3, 4}) {
        SCOPED_TRACE(mode);
        hooks.continues.clear();
        conv->failures.clear();
        conv->set_mode(mode);
        run();
        // The keyed row is merged; the two with NULL are appended again, and said so.
        EXPECT_EQ(rows("SELECT count(*) FROM uk WHERE b IS NOT NULL"), std::vector<std::string>{"1"});
        ASSERT_EQ(hooks.continues.size(), 1u);
        EXPECT_EQ(hooks.continues[0],
                  "public.uk: 2 rows hold NULL in the key they are merged on, which matches no row: they were "
                  "appended, whatever the table held.");
        EXPECT_EQ(conv->failures.keyless_merges.load(), 1u);
    }
    EXPECT_EQ(rows("SELECT count(*) FROM uk WHERE b IS NULL"), std::vector<std::string>{"6"});
}

TEST_F(existing_destination_test, a_structure_mismatch_fails_only_that_item)
{
    dest("DROP TABLE t; CREATE TABLE t (id INTEGER PRIMARY KEY, name VARCHAR(20))");
    conv->set_mode(3);
    run();
    EXPECT_EQ(conv->outcome(), conversion_outcome::completed);
    ASSERT_EQ(hooks.continues.size(), 1u);
    EXPECT_EQ(hooks.continues[0], std::string("t: ") + not_conform_message);
    EXPECT_EQ(conv->failures.tables.load(), 1u);
    EXPECT_EQ(conv->failures.rows.load(), 0u);
    EXPECT_EQ(rows("SELECT count(*) FROM t"), std::vector<std::string>{"0"});
    EXPECT_EQ(rows("SELECT count(*) FROM u"), std::vector<std::string>{"2"});
}

TEST_F(existing_destination_test, rows_that_name_no_column_of_the_table_fail_the_item_once)
{
    // The columns agree by position and type, so appending starts; the rows then name a column
    // the table lacks, a fault of the table, reported once for the item in each appending mode.
    for (int mode : {3, 4}) {
        SCOPED_TRACE(mode);
        hooks.continues.clear();
        dest("DROP TABLE t; CREATE TABLE t (id INTEGER PRIMARY KEY, label VARCHAR(20), qty INTEGER)");
        conv->set_mode(mode);
        run();
        EXPECT_EQ(conv->outcome(), conversion_outcome::completed);
        EXPECT_EQ(hooks.continues, std::vector<std::string>{std::string("t: ") + not_conform_message});
        EXPECT_EQ(rows("SELECT count(*) FROM t"), std::vector<std::string>{"0"});
        EXPECT_EQ(rows("SELECT count(*) FROM u"), std::vector<std::string>{"2"});
    }
}

// ---------------------------------------------------------------------------
// How a run ends

TEST_F(conversion_run_test, a_missing_source_ends_the_run_abnormally_before_the_first_item)
{
    conv->set_source(L"qdrv_no_such_database");
    conv->selected_tables = {L"t"};
    run();
    EXPECT_EQ(conv->outcome(), conversion_outcome::failed);
    EXPECT_TRUE(conv->ended_abnormally());
    EXPECT_TRUE(conv->is_finished());
    EXPECT_EQ(hooks.reports().size(), 1u);
    EXPECT_TRUE(hooks.lines.empty());
    EXPECT_FALSE(dest_exists());
}

TEST_F(conversion_run_test, abort_in_a_row_report_ends_the_run_and_keeps_the_rows_written)
{
    source("CREATE TABLE stock (id INT PRIMARY KEY, qty INT);"
           "INSERT INTO stock VALUES (1,5),(2,-1),(3,7);"
           "CREATE TABLE later (id INT)");
    dest("CREATE TABLE stock (id INTEGER PRIMARY KEY, qty INTEGER CHECK (qty >= 0))");
    conv->selected_tables = {L"stock", L"later"};
    hooks.answer.abort = true;
    run();
    EXPECT_EQ(conv->outcome(), conversion_outcome::aborted);
    EXPECT_FALSE(conv->ended_abnormally());
    EXPECT_TRUE(conv->is_finished());
    // Row 2 is refused when its batch is committed: the rows of the batch
    // that the server took stay.
    EXPECT_EQ(rows("SELECT id FROM stock ORDER BY id"), (std::vector<std::string>{"1", "3"}));
    EXPECT_FALSE(dest_table_exists("public", "later"));
}

TEST_F(conversion_run_test, a_stop_request_ends_the_run_between_tables)
{
    source("CREATE TABLE a (id INT); INSERT INTO a VALUES (1)");
    conv->selected_tables = {L"a"};
    conv->request_stop();
    run();
    EXPECT_EQ(conv->outcome(), conversion_outcome::stopped);
    EXPECT_TRUE(conv->is_finished());
    EXPECT_FALSE(dest_table_exists("public", "a"));
}

// Stops the run as soon as a table's rows are about to be copied.
class stop_at_table_hooks : public recording_hooks {
public:
    explicit stop_at_table_hooks(pelmora_convertor*& c) : conv_(c) {}
    void progress_line(const std::wstring& line) override
    {
        recording_hooks::progress_line(line);
        if (line.rfind(L"Converting table", 0) == 0) conv_->request_stop();
    }

private:
    pelmora_convertor*& conv_;
};

TEST_F(conversion_run_test, a_stop_request_is_seen_between_rows)
{
    source("CREATE TABLE a (id INT); INSERT INTO a VALUES (1),(2);"
           "CREATE TABLE b (id INT); INSERT INTO b VALUES (1)");
    conv->selected_tables = {L"a", L"b"};
    pelmora_convertor* target = conv.get();
    stop_at_table_hooks stopper(target);
    hooks_scope scope(stopper);
    run();
    EXPECT_EQ(conv->outcome(), conversion_outcome::stopped);
    EXPECT_EQ(conv->get_records_done(), 0u);
    EXPECT_EQ(rows("SELECT count(*) FROM a"), std::vector<std::string>{"0"});
    EXPECT_FALSE(dest_table_exists("public", "b"));
}

TEST_F(conversion_run_test, the_counters_can_be_read_while_a_worker_thread_runs_the_conversion)
{
    source("CREATE TABLE big (id INT PRIMARY KEY, v VARCHAR(20));"
           "INSERT INTO big SELECT seq, CONCAT('v', seq) FROM seq_1_to_3000");
    conv->selected_tables = {L"big"};
    conv->get_pgs_engine().fast_insert = true;
    std::thread worker([&] { run(); });
    std::uint64_t last = 0;
    bool monotonic = true;
    while (!conv->is_finished()) {
        const std::uint64_t done = conv->get_records_done();
        monotonic = monotonic && (done >= last || done == 0);
        last = done;
        (void)conv->get_current_table();
        std::this_thread::yield();
    }
    worker.join();
    EXPECT_TRUE(monotonic);
    EXPECT_EQ(conv->get_records_done(), 3000u);
    EXPECT_EQ(rows("SELECT count(*) FROM big"), std::vector<std::string>{"3000"});
}

// Tables the run creates are filled by several writer connections at once
// (on a machine of more than one core); the reports and counts stay exact.
class writers_test : public conversion_run_test, public ::testing::WithParamInterface<bool> {};

TEST_P(writers_test, a_refused_row_is_reported_with_its_source_record_number_and_every_other_row_lands)
{
    // Rows 2500 and 4100 hold a time PostgreSQL refuses (past one day).
    source("CREATE TABLE w (id INT PRIMARY KEY, t TIME);"
           "INSERT INTO w SELECT seq, IF(seq IN (2500, 4100), '100:00:00', '08:00:00') FROM seq_1_to_5500;"
           "CREATE TABLE w2 (id INT); INSERT INTO w2 SELECT seq FROM seq_1_to_3300");
    conv->selected_tables = {L"w", L"w2"};
    conv->get_pgs_engine().fast_insert = GetParam();
    run();
    EXPECT_EQ(conv->outcome(), conversion_outcome::completed);
    std::vector<std::string> reports = hooks.continues;
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].rfind("w, record #2500: ", 0), 0u) << reports[0];
    EXPECT_EQ(reports[1].rfind("w, record #4100: ", 0), 0u) << reports[1];
    EXPECT_EQ(rows("SELECT count(*), count(DISTINCT id), min(id), max(id) FROM w"),
              std::vector<std::string>{"5498|5498|1|5500"});
    EXPECT_EQ(rows("SELECT count(*) FROM w WHERE id IN (2499, 2501, 4099, 4101)"), std::vector<std::string>{"4"});
    EXPECT_EQ(rows("SELECT count(*), sum(id) FROM w2"), std::vector<std::string>{"3300|5446650"});
    // The key arrived after the rows.
    EXPECT_EQ(rows("SELECT count(*) FROM pg_index WHERE indrelid = 'w'::regclass AND indisprimary"),
              std::vector<std::string>{"1"});
}

INSTANTIATE_TEST_SUITE_P(conversion_run, writers_test, ::testing::Values(true, false),
                         [](const auto& info) { return std::string(info.param ? "copy" : "insert"); });

TEST_F(conversion_run_test, a_column_that_gets_another_name_is_said)
{
    source("CREATE TABLE t (id INT PRIMARY KEY, xmin INT, `c\"d` INT, Mixed INT)");
    conv->selected_tables = {L"t"};
    run();
    ASSERT_EQ(conv->outcome(), conversion_outcome::completed);
    std::vector<std::wstring> said;
    for (const std::wstring& line : hooks.lines)
        if (line.rfind(L"Column ", 0) == 0) said.push_back(line);
    // Only the names PostgreSQL could not take; folding the case is no new name.
    EXPECT_EQ(said, (std::vector<std::wstring>{L"Column 'xmin' of table 't' is converted as 'x_min'\r\n",
                                               L"Column 'c\"d' of table 't' is converted as 'c_d'\r\n"}));
    EXPECT_TRUE(hooks.reports().empty());
}

// PostgreSQL folds only A-Z: "ÄRGER" and "Ärger" land on one name, "ärger" is a table of its own
// there and takes its own rows, also when a merge runs again.
TEST_F(conversion_run_test, names_that_differ_in_the_case_of_a_letter_beyond_a_to_z_are_tables_of_their_own)
{
    source("CREATE TABLE `ÄRGER` (id INT PRIMARY KEY, a INT); INSERT INTO `ÄRGER` VALUES (1, 10);"
           "CREATE TABLE `Ärger` (id INT PRIMARY KEY, b INT); INSERT INTO `Ärger` VALUES (2, 20);"
           "CREATE TABLE `ärger` (id INT PRIMARY KEY, c INT); INSERT INTO `ärger` VALUES (3, 30), (4, 40)");
    conv->selected_tables = {L"ÄRGER", L"Ärger", L"ärger"};
    for (int mode : {0, 3}) {
        SCOPED_TRACE(mode);
        hooks.lines.clear();
        conv->set_mode(mode);
        run();
        EXPECT_EQ(conv->outcome(), conversion_outcome::completed);
        EXPECT_TRUE(hooks.reports().empty());
        EXPECT_EQ(rows("SELECT 'A', id, a FROM \"Ärger\" UNION ALL SELECT 'B', id, b FROM \"Ärger00000\" "
                       "UNION ALL SELECT 'C', id, c FROM \"ärger\" ORDER BY 2"),
                  (std::vector<std::string>{"A|1|10", "B|2|20", "C|3|30", "C|4|40"}));
    }
}

TEST_F(conversion_run_test, a_stop_during_a_table_leaves_no_transaction_open_and_the_rows_counted_are_stored)
{
    source("CREATE TABLE s (id INT PRIMARY KEY, v VARCHAR(20));"
           "INSERT INTO s SELECT seq, CONCAT('v', seq) FROM seq_1_to_60000");
    conv->selected_tables = {L"s"};
    conv->get_pgs_engine().fast_insert = true;
    std::thread worker([&] { run(); });
    while (!conv->is_finished() && conv->get_records_done() < 12000) std::this_thread::yield();
    conv->request_stop();
    worker.join();
    ASSERT_EQ(conv->outcome(), conversion_outcome::stopped);
    const std::uint64_t done = conv->get_records_done();
    EXPECT_LT(done, 60000u);
    EXPECT_EQ(rows("SELECT count(*) FROM s"), std::vector<std::string>{std::to_string(done)});
    EXPECT_EQ(rows("SELECT count(*) FROM pg_stat_activity WHERE datname = current_database() AND "
                   "pid <> pg_backend_pid() AND state LIKE 'idle in transaction%'"),
              std::vector<std::string>{"0"});
    // Locks of client sessions only: the server's autovacuum may be analysing the new rows.
    EXPECT_EQ(rows("SELECT count(*) FROM pg_locks l JOIN pg_class c ON c.oid = l.relation "
                   "JOIN pg_stat_activity a ON a.pid = l.pid "
                   "WHERE c.relname = 's' AND a.backend_type = 'client backend' AND a.pid <> pg_backend_pid()"),
              std::vector<std::string>{"0"});
}

TEST_F(conversion_run_test, a_script_destination_gets_the_tables_and_rows)
{
    small_source();
    conv->b_direct = false;
    char dir_template[] = "/tmp/qdrv_scriptXXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    const std::string path = std::string(dir_template) + "/out.sql";
    conv->set_destination(tk_utf8_to_unicode(path));
    conv->selected_tables = {L"customers"};
    conv->check_dest();
    run();
    EXPECT_EQ(conv->outcome(), conversion_outcome::completed);
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::string text;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
    std::fclose(f);
    std::remove(path.c_str());
    rmdir(dir_template);
    EXPECT_NE(text.find("set client_encoding to 'UTF8'"), std::string::npos);
    EXPECT_NE(text.find("CREATE TABLE"), std::string::npos);
    const auto rows_at = text.find("Oslo");
    EXPECT_NE(rows_at, std::string::npos);
    // The primary key is added after the rows, as in the live run.
    const auto key_at = text.find("PRIMARY KEY");
    ASSERT_NE(key_at, std::string::npos);
    EXPECT_GT(key_at, rows_at);
}

TEST_F(conversion_run_test, a_created_table_gets_its_keys_and_indexes_after_its_rows)
{
    source("CREATE TABLE k (id INT PRIMARY KEY, code VARCHAR(5), tag VARCHAR(5), KEY ix_tag (tag),"
           " UNIQUE KEY uk_code (code));"
           "INSERT INTO k VALUES (1,'a','x'),(2,'b','y'),(3,'c','x')");
    conv->selected_tables = {L"k"};
    conv->get_pgs_engine().fast_insert = true;
    run();
    EXPECT_EQ(conv->outcome(), conversion_outcome::completed);
    EXPECT_EQ(rows("SELECT count(*) FROM k"), std::vector<std::string>{"3"});
    // Each index was created in a later transaction than every row.
    EXPECT_EQ(rows("SELECT count(*) FROM pg_index x JOIN pg_class i ON i.oid = x.indexrelid "
                   "WHERE x.indrelid = 'k'::regclass AND i.xmin::text::bigint > "
                   "(SELECT max(xmin::text::bigint) FROM k)"),
              std::vector<std::string>{"3"});
}

// ---------------------------------------------------------------------------
// A client encoding other than UTF8

class client_encoding_test : public conversion_run_test, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        conversion_run_test::SetUp();
        source("CREATE TABLE people (id INT PRIMARY KEY, name VARCHAR(20)) CHARACTER SET utf8mb4;"
               "INSERT INTO people VALUES (1,'Zo\xc3\xab'),(2,'price \xe2\x82\xac" "5'),(3,'Ann'),"
               "(4,'smile \xf0\x9f\x98\x80')");
        conv->selected_tables = {L"people"};
        conv->client_encoding = L"ISO8859-1";
        conv->get_pgs_engine().fast_insert = GetParam();
    }

    // The two rows LATIN1 cannot hold are reported alone, naming the character.
    void expect_two_refusals()
    {
        ASSERT_EQ(hooks.continues.size(), 2u);
        EXPECT_EQ(hooks.continues[0], "people, record #2: Column \"name\": character '\xe2\x82\xac' (U+20AC) "
                                      "cannot be represented in encoding ISO8859-1");
        EXPECT_EQ(hooks.continues[1].rfind("people, record #4: Column \"name\": character '\xf0\x9f\x98\x80' "
                                           "(U+1F600) cannot be represented",
                                           0),
                  0u)
            << hooks.continues[1];
    }
};

TEST_P(client_encoding_test, live_rows_the_encoding_cannot_hold_fail_alone)
{
    run();
    EXPECT_EQ(conv->outcome(), conversion_outcome::completed);
    expect_two_refusals();
    EXPECT_EQ(rows("SELECT id, name FROM people ORDER BY id"), (std::vector<std::string>{"1|Zo\xc3\xab", "3|Ann"}));
}

TEST_P(client_encoding_test, a_script_is_written_in_the_encoding_and_loads_with_psql)
{
    conv->b_direct = false;
    char dir_template[] = "/tmp/qdrv_encXXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    const std::string dir = dir_template;
    const std::string path = dir + "/out.sql";
    conv->set_destination(tk_utf8_to_unicode(path));
    conv->check_dest();
    run();
    EXPECT_EQ(conv->outcome(), conversion_outcome::completed);
    expect_two_refusals();

    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
        std::fclose(f);
    }
    EXPECT_NE(text.find("set client_encoding to 'ISO8859-1'"), std::string::npos);
    EXPECT_NE(text.find("Zo\xeb"), std::string::npos);            // one LATIN1 byte
    EXPECT_EQ(text.find("Zo\xc3\xab"), std::string::npos);        // not UTF-8
    EXPECT_EQ(text.find("price"), std::string::npos);             // nothing of a refused row

    ensure_dest();
    const auto pg = test_env::pg();
    const char* bin = std::getenv("TEST_PG_BIN");
    const std::string psql = bin ? std::string(bin) + "/psql" : std::string("psql");
    setenv("PGPASSWORD", pg.password.c_str(), 1);
    const std::string command = psql + " -q -X -v ON_ERROR_STOP=1 -h " + pg.host + " -p " +
                                std::to_string(pg.port) + " -U " + pg.user + " -d " + dest_name + " -f " + path +
                                " >" + dir + "/psql.out 2>&1";
    const int rc = std::system(command.c_str());
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(rows("SELECT id, name FROM people ORDER BY id"), (std::vector<std::string>{"1|Zo\xc3\xab", "3|Ann"}));
    std::remove((dir + "/psql.out").c_str());
    std::remove(path.c_str());
    rmdir(dir_template);
}

TEST_F(conversion_run_test, an_unknown_client_encoding_fails_the_run_before_anything_is_written)
{
    small_source();
    conv->selected_tables = {L"customers"};
    conv->client_encoding = L"klingon";
    run();
    EXPECT_EQ(conv->outcome(), conversion_outcome::failed);
    EXPECT_EQ(hooks.reports(), std::vector<std::string>{"Unknown PostgreSQL encoding 'klingon'"});
    EXPECT_FALSE(dest_exists());
}

INSTANTIATE_TEST_SUITE_P(by_copy_and_insert, client_encoding_test, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "copy" : "insert"; });
