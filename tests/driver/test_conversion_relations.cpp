// Foreign keys and views of a run, on the real servers: what arrives in PostgreSQL's catalog
// is checked against the source's own catalog (information_schema of the MySQL server), live
// and through a script loaded with psql.
#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <thread>

#include "driver/conversion_relations.h"
#include "driver/driver_test_support.h"
#include "support/pg_scratch_db.h"
#include "support/psql_load.h"
#include "support/scratch_dir.h"

namespace {

using strings = std::vector<std::string>;

// A small rental schema: a cascading key, a self-referencing SET NULL key, a composite key, a
// key whose parent is left out of the work list, keys to a column with a plain index (one
// whose values are unique, one with duplicates, which PostgreSQL must refuse), rows that break no key but arrive in any
// order, a view over a view (named so that it sorts first), a view PostgreSQL refuses and a
// view whose literals look like the rewriting's targets.
const char* const rental_schema = R"sql(
CREATE TABLE country (id INT PRIMARY KEY, name VARCHAR(20)) ENGINE=InnoDB;
CREATE TABLE city (id INT PRIMARY KEY, country_id INT NOT NULL, name VARCHAR(20),
  CONSTRAINT fk_city_country FOREIGN KEY (country_id) REFERENCES country (id) ON DELETE CASCADE) ENGINE=InnoDB;
CREATE TABLE staff (id INT PRIMARY KEY, boss_id INT NULL,
  CONSTRAINT fk_staff_boss FOREIGN KEY (boss_id) REFERENCES staff (id) ON DELETE SET NULL ON UPDATE CASCADE) ENGINE=InnoDB;
CREATE TABLE inventory (store INT, item INT, qty INT, PRIMARY KEY (store, item)) ENGINE=InnoDB;
CREATE TABLE rental (id INT PRIMARY KEY, store INT, item INT,
  CONSTRAINT fk_rental_inventory FOREIGN KEY (store, item) REFERENCES inventory (store, item)) ENGINE=InnoDB;
CREATE TABLE secret (id INT PRIMARY KEY) ENGINE=InnoDB;
CREATE TABLE tag (code INT, KEY (code)) ENGINE=InnoDB;
CREATE TABLE tagged (id INT PRIMARY KEY, code INT,
  CONSTRAINT fk_tagged_tag FOREIGN KEY (code) REFERENCES tag (code)) ENGINE=InnoDB;
CREATE TABLE dup (code INT, KEY (code)) ENGINE=InnoDB;
CREATE TABLE duped (id INT PRIMARY KEY, code INT,
  CONSTRAINT fk_duped_dup FOREIGN KEY (code) REFERENCES dup (code)) ENGINE=InnoDB;
CREATE TABLE note (id INT PRIMARY KEY, secret_id INT,
  CONSTRAINT fk_note_secret FOREIGN KEY (secret_id) REFERENCES secret (id)) ENGINE=InnoDB;
INSERT INTO country VALUES (1, 'Norway'), (2, 'Chile');
INSERT INTO city VALUES (10, 1, 'Oslo'), (11, 1, 'Bergen'), (12, 2, 'Arica');
INSERT INTO staff VALUES (1, NULL), (2, 1), (3, 2);
INSERT INTO inventory VALUES (1, 1, 5), (1, 2, 0);
INSERT INTO rental VALUES (100, 1, 1), (101, 1, 2);
INSERT INTO secret VALUES (7);
INSERT INTO note VALUES (1, 7);
INSERT INTO tag VALUES (1), (2); INSERT INTO tagged VALUES (1, 2);
INSERT INTO dup VALUES (1), (1); INSERT INTO duped VALUES (1, 1);
CREATE VIEW v_city AS SELECT c.name AS city, k.name AS country FROM city c JOIN country k ON k.id = c.country_id;
CREATE VIEW a_city_count AS SELECT country, count(*) AS n FROM v_city GROUP BY country;
CREATE VIEW v_literal AS SELECT '[x]' AS s, 'a cross b' AS t, c.name FROM city c JOIN country k ON k.id = c.country_id;
CREATE VIEW v_bad AS SELECT id, IF(id > 1, 'big', 'small') AS size FROM country;
)sql";

const std::vector<std::wstring> work_list = {L"rental", L"city", L"staff", L"note", L"inventory", L"country",
                                             L"tagged", L"tag", L"duped", L"dup"};

// One line per foreign key: name|table|parent|columns|parent columns|delete rule (c cascade,
// n set null, a none).
const char* const pg_keys =
    "SELECT c.conname || '|' || c.conrelid::regclass || '|' || c.confrelid::regclass || '|' || "
    "(SELECT string_agg(a.attname, ',' ORDER BY k.n) FROM unnest(c.conkey) WITH ORDINALITY k(att, n) "
    " JOIN pg_attribute a ON a.attrelid = c.conrelid AND a.attnum = k.att) || '|' || "
    "(SELECT string_agg(a.attname, ',' ORDER BY k.n) FROM unnest(c.confkey) WITH ORDINALITY k(att, n) "
    " JOIN pg_attribute a ON a.attrelid = c.confrelid AND a.attnum = k.att) || '|' || c.confdeltype::text "
    "FROM pg_constraint c WHERE c.contype = 'f' ORDER BY 1";
const char* const pg_view_names = "SELECT viewname FROM pg_views WHERE schemaname = 'public' ORDER BY 1";

strings pg_rows(const std::string& conninfo, const std::string& sql)
{
    pqxx::connection c(conninfo);
    pqxx::nontransaction tx(c);
    strings out;
    for (const auto& row : tx.exec(sql)) out.push_back(row[0].is_null() ? "NULL" : row[0].c_str());
    return out;
}

class conversion_relations_test : public driver_server_test {
protected:
    strings my_rows(const std::string& sql)
    {
        MYSQL* m = mysql_init(nullptr);
        auto my = test_env::mysql();
        mysql_options(m, MYSQL_SET_CHARSET_NAME, "utf8mb4");
        if (!mysql_real_connect(m, my.host.c_str(), my.user.c_str(), my.password.c_str(), source_name.c_str(),
                                my.port, nullptr, 0))
            throw std::runtime_error(mysql_error(m));
        mysql_exec_keep(m, sql);
        strings out;
        MYSQL_RES* r = mysql_store_result(m);
        while (MYSQL_ROW row = mysql_fetch_row(r)) out.push_back(row[0] ? row[0] : "NULL");
        mysql_free_result(r);
        mysql_close(m);
        return out;
    }
    static void mysql_exec_keep(MYSQL* m, const std::string& sql)
    {
        if (mysql_real_query(m, sql.data(), sql.size()) != 0) throw std::runtime_error(mysql_error(m));
    }

    // The source's foreign keys in the form of pg_keys, the key into a table outside the work
    // list and the key PostgreSQL refuses left out.
    strings source_keys()
    {
        strings keys = my_rows(
            "SELECT CONCAT_WS('|', rc.constraint_name, rc.table_name, rc.referenced_table_name, "
            " GROUP_CONCAT(k.column_name ORDER BY k.ordinal_position), "
            " GROUP_CONCAT(k.referenced_column_name ORDER BY k.ordinal_position), "
            " CASE rc.delete_rule WHEN 'CASCADE' THEN 'c' WHEN 'SET NULL' THEN 'n' ELSE 'a' END) "
            "FROM information_schema.referential_constraints rc JOIN information_schema.key_column_usage k "
            " ON k.constraint_schema = rc.constraint_schema AND k.constraint_name = rc.constraint_name "
            " AND k.table_name = rc.table_name "
            "WHERE rc.constraint_schema = DATABASE() AND rc.referenced_table_name NOT IN ('secret', 'dup') "
            "GROUP BY rc.constraint_name, rc.table_name, rc.referenced_table_name, rc.delete_rule ORDER BY 1");
        return keys;
    }
    strings source_views()
    {
        return my_rows("SELECT table_name FROM information_schema.views WHERE table_schema = DATABASE() "
                       "AND table_name <> 'v_bad' ORDER BY 1");
    }

    void convert_live(int mode = 0)
    {
        conv->set_mode(mode);
        conv->selected_tables = work_list;
        conv->convert_views = true;
        conv->check_dest();
        run();
        ASSERT_EQ(conv->outcome(), conversion_outcome::completed);
    }
};

TEST_F(conversion_relations_test, keys_and_views_arrive_as_the_source_has_them_live)
{
    source(rental_schema);
    convert_live();

    ASSERT_EQ(source_keys().size(), 4u);
    EXPECT_EQ(rows(pg_keys), source_keys());
    ASSERT_EQ(source_views().size(), 3u);
    EXPECT_EQ(rows(pg_view_names), source_views());
    // The view over a view was created after the view it reads, and both give the rows.
    EXPECT_EQ(rows("SELECT country, n FROM a_city_count ORDER BY 1"), (strings{"Chile|1", "Norway|2"}));
    // Literals of a view text are not rewritten (brackets, the word cross).
    EXPECT_EQ(rows("SELECT DISTINCT s, t FROM v_literal"), (strings{"[x]|a cross b"}));
    // The keys work: the cascade and the set null act.
    dest("DELETE FROM country WHERE id = 1; DELETE FROM staff WHERE id = 1");
    EXPECT_EQ(rows("SELECT count(*) FROM city"), (strings{"1"}));
    EXPECT_EQ(rows("SELECT id, boss_id FROM staff ORDER BY id"), (strings{"2|NULL", "3|2"}));

    // Reported and counted: the key whose parent was left out, the key PostgreSQL refuses, the
    // view PostgreSQL refuses.
    EXPECT_EQ(conv->failures.keys.load(), 2u);
    EXPECT_TRUE(contains(hooks.reports(), "fk_duped_dup"));
    // A refused key leaves nothing of itself: no unique index was left on its parent.
    EXPECT_EQ(rows("SELECT count(*) FROM pg_indexes WHERE tablename = 'dup'"), (strings{"1"}));
    EXPECT_EQ(conv->failures.views.load(), 1u);
    EXPECT_TRUE(contains(hooks.reports(), "fk_note_secret")) << testing::PrintToString(hooks.reports());
    EXPECT_TRUE(contains(hooks.reports(), "secret"));
    EXPECT_TRUE(contains(hooks.reports(), "v_bad"));
}

TEST_F(conversion_relations_test, without_indexes_the_run_says_its_foreign_keys_were_not_made)
{
    source(rental_schema);
    conv->skip_idx = true;
    convert_live();
    EXPECT_EQ(rows("SELECT count(*) FROM pg_constraint WHERE contype = 'f'"), (strings{"0"}));
    EXPECT_NE(std::find(hooks.lines.begin(), hooks.lines.end(),
                        L"Tables were created without indexes: their foreign keys were not created\r\n"),
              hooks.lines.end());
}

TEST_F(conversion_relations_test, views_go_beside_their_tables_in_another_schema)
{
    source(rental_schema);
    conv->pgs_schema = L"sales";
    convert_live();
    EXPECT_EQ(rows("SELECT viewname FROM pg_views WHERE schemaname = 'sales' ORDER BY 1"), source_views());
    EXPECT_EQ(rows("SELECT country, n FROM sales.a_city_count ORDER BY 1"), (strings{"Chile|1", "Norway|2"}));
    EXPECT_EQ(conv->failures.views.load(), 1u);
}

TEST_F(conversion_relations_test, appending_runs_keep_the_keys_already_there)
{
    source(rental_schema);
    convert_live();
    const strings first = rows(pg_keys);
    for (int mode : {2, 3, 4}) {
        SCOPED_TRACE(mode);
        hooks.continues.clear();
        hooks.errors.clear();
        convert_live(mode);
        EXPECT_EQ(rows(pg_keys), first);
        EXPECT_EQ(conv->failures.keys.load(), mode == 2 ? 0u : 2u) << "the key to the missing parent, the refused key";
        EXPECT_FALSE(contains(hooks.reports(), "already exists")) << testing::PrintToString(hooks.reports());
    }
}

TEST_F(conversion_relations_test, script_loaded_with_psql_gives_the_same_keys_and_views)
{
    source(rental_schema);
    test_env::scratch_dir dir("qdrv_rel");
    const std::string path = dir.path() + "/out.sql";
    conv->b_direct = false;
    conv->set_destination(tk_utf8_to_unicode(path));
    conv->selected_tables = work_list;
    conv->convert_views = true;
    conv->check_dest();
    run();
    ASSERT_EQ(conv->outcome(), conversion_outcome::completed);
    EXPECT_EQ(conv->failures.keys.load(), 1u);
    EXPECT_TRUE(contains(hooks.reports(), "fk_note_secret"));

    test_env::pg_scratch_db loaded("qdrv_rel_load");
    std::string said;
    ASSERT_EQ(test_env::run_psql(loaded.name(), path, said), 0) << said;
    // The view PostgreSQL refuses is a warning of the load, which goes on.
    EXPECT_NE(said.find("View 'v_bad' was not created"), std::string::npos) << said;
    EXPECT_NE(said.find("Foreign key 'fk_duped_dup' of table 'public.duped' was not created"), std::string::npos)
        << said;
    EXPECT_EQ(pg_rows(loaded.conninfo(), "SELECT count(*) FROM pg_indexes WHERE tablename = 'dup'"), (strings{"1"}));

    EXPECT_EQ(pg_rows(loaded.conninfo(), pg_keys), source_keys());
    EXPECT_EQ(pg_rows(loaded.conninfo(), pg_view_names), source_views());
    EXPECT_EQ(pg_rows(loaded.conninfo(), "SELECT DISTINCT s || t FROM v_literal"), (strings{"[x]a cross b"}));
}

// Live (false) and by a script loaded with psql (true).
class index_name_collision_test : public conversion_relations_test, public ::testing::WithParamInterface<bool> {};

// The usual web-application shape: unsigned BIGINT auto-increment ids, and unsigned BIGINT
// columns referring to them (to another table, to the table itself). Their keys arrive with
// their rules; an unsigned BIGINT that refers to nothing keeps its full range.
TEST_P(index_name_collision_test, keys_to_unsigned_bigint_serials_are_made)
{
    source(R"sql(
CREATE TABLE customer (id BIGINT UNSIGNED NOT NULL AUTO_INCREMENT PRIMARY KEY, name VARCHAR(20)) ENGINE=InnoDB;
CREATE TABLE purchase (id BIGINT UNSIGNED NOT NULL AUTO_INCREMENT PRIMARY KEY, customer_id BIGINT UNSIGNED NULL,
  parent_id BIGINT UNSIGNED NULL, big BIGINT UNSIGNED NULL,
  CONSTRAINT fk_purchase_customer FOREIGN KEY (customer_id) REFERENCES customer (id) ON DELETE SET NULL,
  CONSTRAINT fk_purchase_parent FOREIGN KEY (parent_id) REFERENCES purchase (id) ON DELETE CASCADE) ENGINE=InnoDB;
INSERT INTO customer VALUES (1, 'a'), (9223372036854775807, 'b');
INSERT INTO purchase VALUES (1, 9223372036854775807, NULL, 18446744073709551615), (2, 1, 1, 0);
)sql");
    const std::vector<std::wstring> tables = {L"purchase", L"customer"};
    test_env::scratch_dir dir("qdrv_rel_u8");
    const std::string path = dir.path() + "/out.sql";
    if (GetParam()) {
        conv->b_direct = false;
        conv->set_destination(tk_utf8_to_unicode(path));
    }
    conv->selected_tables = tables;
    conv->check_dest();
    run();
    ASSERT_EQ(conv->outcome(), conversion_outcome::completed);
    EXPECT_EQ(conv->failures.keys.load(), 0u) << testing::PrintToString(hooks.reports());
    EXPECT_EQ(conv->failures.rows.load(), 0u) << testing::PrintToString(hooks.reports());

    test_env::pg_scratch_db loaded("qdrv_rel_u8_load");
    std::string conninfo = test_env::pg_conninfo(dest_name);
    if (GetParam()) {
        std::string said;
        ASSERT_EQ(test_env::run_psql(loaded.name(), path, said), 0) << said;
        EXPECT_EQ(said.find("WARNING"), std::string::npos) << said;
        conninfo = loaded.conninfo();
    }
    EXPECT_EQ(pg_rows(conninfo, pg_keys), (strings{"fk_purchase_customer|purchase|customer|customer_id|id|n",
                                                   "fk_purchase_parent|purchase|purchase|parent_id|id|c"}));
    EXPECT_EQ(pg_rows(conninfo, "SELECT column_name || ' ' || data_type FROM information_schema.columns "
                                "WHERE table_name = 'purchase' ORDER BY ordinal_position"),
              (strings{"id bigint", "customer_id bigint", "parent_id bigint", "big numeric"}));
    EXPECT_EQ(pg_rows(conninfo, "SELECT concat_ws('|', id, customer_id, parent_id, big) FROM purchase ORDER BY id"),
              (strings{"1|9223372036854775807|18446744073709551615", "2|1|1|0"}));
}

TEST_P(index_name_collision_test, index_named_like_a_table_gets_a_name_of_its_own)
{
    // An index named like its own table, and one named like another table of the run.
    source("CREATE TABLE domain_filter (id INT PRIMARY KEY, d VARCHAR(20), KEY domain_filter (d));"
           "CREATE TABLE a (id INT PRIMARY KEY, x INT, UNIQUE KEY b (x));"
           "CREATE TABLE b (id INT PRIMARY KEY);"
           "INSERT INTO domain_filter VALUES (1, 'x'); INSERT INTO a VALUES (1, 2); INSERT INTO b VALUES (3);");
    test_env::scratch_dir dir("qdrv_idx");
    const std::string path = dir.path() + "/out.sql";
    if (GetParam()) {
        conv->b_direct = false;
        conv->set_destination(tk_utf8_to_unicode(path));
    }
    conv->selected_tables = {L"domain_filter", L"a", L"b"};
    conv->check_dest();
    run();
    ASSERT_EQ(conv->outcome(), conversion_outcome::completed);
    EXPECT_EQ(conv->failures.indexes.load(), 0u);
    EXPECT_TRUE(hooks.reports().empty()) << testing::PrintToString(hooks.reports());

    std::string conninfo = test_env::pg_conninfo(dest_name);
    std::unique_ptr<test_env::pg_scratch_db> loaded;
    if (GetParam()) {
        loaded = std::make_unique<test_env::pg_scratch_db>("qdrv_idx_load");
        std::string said;
        ASSERT_EQ(test_env::run_psql(loaded->name(), path, said), 0) << said;
        conninfo = loaded->conninfo();
    }
    EXPECT_EQ(pg_rows(conninfo, "SELECT tablename || ':' || indexname FROM pg_indexes WHERE schemaname = 'public' "
                                "AND indexdef NOT LIKE '%UNIQUE INDEX%pkey%' AND indexname NOT LIKE '%primary%' "
                                "ORDER BY 1"),
              (strings{"a:b00000", "domain_filter:domain_filter00000"}));
    EXPECT_EQ(pg_rows(conninfo, "SELECT count(*) FROM b"), (strings{"1"}));
}

INSTANTIATE_TEST_SUITE_P(forms, index_name_collision_test, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "script" : "live"; });

// A server whose SQL mode quotes names with " (ANSI_QUOTES) or reads no backslash escapes
// shows its catalog otherwise: the keys, a JSON column's own check and the defaults still
// arrive as with the plain mode, and a query of the user's own still means what it means on
// that server.
TEST_P(index_name_collision_test, keys_and_defaults_arrive_whatever_the_servers_sql_mode)
{
    source(R"sql(
CREATE TABLE `par\ent` (id INT PRIMARY KEY, code VARCHAR(10), UNIQUE KEY uc (code)) ENGINE=InnoDB;
CREATE TABLE kid (id INT PRIMARY KEY, pid INT, code VARCHAR(10) DEFAULT 'a\\b''c', j JSON,
  CONSTRAINT `fk\pid` FOREIGN KEY (pid) REFERENCES `par\ent` (id) ON DELETE CASCADE,
  CONSTRAINT fk_code FOREIGN KEY (code) REFERENCES `par\ent` (code) ON UPDATE SET NULL) ENGINE=InnoDB;
INSERT INTO `par\ent` VALUES (1, 'x'), (2, 'a\\b''c'); INSERT INTO kid VALUES (1, 1, 'x', '{}');
)sql");
    conv->get_sql_engine().execute("SET SESSION sql_mode = 'ANSI_QUOTES,NO_BACKSLASH_ESCAPES,PIPES_AS_CONCAT'");
    test_env::scratch_dir dir("qdrv_rel_mode");
    const std::string path = dir.path() + "/out.sql";
    if (GetParam()) {
        conv->b_direct = false;
        conv->set_destination(tk_utf8_to_unicode(path));
    }
    conv->selected_tables = {L"kid", L"par\\ent"};
    conv->query_list = {{L"q", L"SELECT id, \"code\" || '!' AS c FROM kid"}};
    conv->check_dest();
    run();
    ASSERT_EQ(conv->outcome(), conversion_outcome::completed);
    EXPECT_TRUE(hooks.reports().empty()) << testing::PrintToString(hooks.reports());

    std::string conninfo = test_env::pg_conninfo(dest_name);
    std::unique_ptr<test_env::pg_scratch_db> loaded;
    if (GetParam()) {
        loaded = std::make_unique<test_env::pg_scratch_db>("qdrv_rel_mode_load");
        std::string said;
        ASSERT_EQ(test_env::run_psql(loaded->name(), path, said), 0) << said;
        EXPECT_EQ(said.find("WARNING"), std::string::npos) << said;
        conninfo = loaded->conninfo();
    }
    EXPECT_EQ(pg_rows(conninfo, pg_keys),
              (strings{"fk\\pid|kid|\"par\\ent\"|pid|id|c", "fk_code|kid|\"par\\ent\"|code|code|a"}));
    pg_rows(conninfo, "INSERT INTO kid (id) VALUES (2)");
    EXPECT_EQ(pg_rows(conninfo, "SELECT code FROM kid WHERE id = 2"), (strings{"a\\b'c"}));
    EXPECT_EQ(pg_rows(conninfo, "SELECT c FROM q"), (strings{"x!"}));
}

TEST_P(index_name_collision_test, keys_follow_tables_renamed_for_case)
{
    // Two parents equal but for case: folded, the second gets a name of its own, and each key
    // must still point at its own parent.
    source("CREATE TABLE Parent (id INT PRIMARY KEY, tag VARCHAR(5));"
           "CREATE TABLE parent (id INT PRIMARY KEY, tag VARCHAR(5));"
           "CREATE TABLE kid (id INT PRIMARY KEY, big_id INT, small_id INT,"
           " CONSTRAINT fk_big FOREIGN KEY (big_id) REFERENCES Parent (id),"
           " CONSTRAINT fk_small FOREIGN KEY (small_id) REFERENCES parent (id));"
           "INSERT INTO Parent VALUES (1, 'big'); INSERT INTO parent VALUES (2, 'small'); INSERT INTO kid VALUES (1, 1, 2);");
    test_env::scratch_dir dir("qdrv_case");
    const std::string path = dir.path() + "/out.sql";
    if (GetParam()) {
        conv->b_direct = false;
        conv->set_destination(tk_utf8_to_unicode(path));
    }
    conv->selected_tables = {L"kid", L"Parent", L"parent"};
    conv->check_dest();
    run();
    ASSERT_EQ(conv->outcome(), conversion_outcome::completed);
    EXPECT_EQ(conv->failures.keys.load(), 0u) << testing::PrintToString(hooks.reports());

    std::string conninfo = test_env::pg_conninfo(dest_name);
    std::unique_ptr<test_env::pg_scratch_db> loaded;
    if (GetParam()) {
        loaded = std::make_unique<test_env::pg_scratch_db>("qdrv_case_load");
        std::string said;
        ASSERT_EQ(test_env::run_psql(loaded->name(), path, said), 0) << said;
        EXPECT_EQ(said.find("WARNING"), std::string::npos) << said;
        conninfo = loaded->conninfo();
    }
    // Each key leads from the kid's row to the parent row of its own source table.
    const strings parents = pg_rows(conninfo, "SELECT conname || '>' || confrelid::regclass::text FROM pg_constraint "
                                              "WHERE contype = 'f' ORDER BY 1");
    ASSERT_EQ(parents.size(), 2u);
    for (const std::string& line : parents) {
        const std::string key = line.substr(0, line.find('>')), parent = line.substr(line.find('>') + 1);
        const std::string column = key == "fk_big" ? "big_id" : "small_id";
        EXPECT_EQ(pg_rows(conninfo, "SELECT p.tag FROM kid k JOIN " + parent + " p ON p.id = k." + column),
                  strings{key == "fk_big" ? "big" : "small"})
            << line;
    }
}

TEST_P(index_name_collision_test, a_key_to_a_table_left_out_never_goes_to_one_equal_to_it_but_for_case)
{
    // The server keeps the case: Parent and parent are two tables, and a key to Parent, which
    // the run does not convert, is not made to parent, even where parent's rows would take it.
    source("CREATE TABLE Parent (id INT PRIMARY KEY); CREATE TABLE parent (id INT PRIMARY KEY);"
           "CREATE TABLE kid (id INT PRIMARY KEY, big_id INT, small_id INT,"
           " CONSTRAINT fk_big FOREIGN KEY (big_id) REFERENCES Parent (id),"
           " CONSTRAINT fk_small FOREIGN KEY (small_id) REFERENCES parent (id));"
           "INSERT INTO Parent VALUES (2); INSERT INTO parent VALUES (2); INSERT INTO kid VALUES (1, 2, 2);");
    test_env::scratch_dir dir("qdrv_case_out");
    const std::string path = dir.path() + "/out.sql";
    if (GetParam()) {
        conv->b_direct = false;
        conv->set_destination(tk_utf8_to_unicode(path));
    }
    conv->selected_tables = {L"kid", L"parent"};
    conv->check_dest();
    run();
    ASSERT_EQ(conv->outcome(), conversion_outcome::completed);
    EXPECT_EQ(conv->failures.keys.load(), 1u) << testing::PrintToString(hooks.reports());
    EXPECT_TRUE(contains(hooks.reports(), "The referenced table 'Parent' was not converted"))
        << testing::PrintToString(hooks.reports());

    std::string conninfo = test_env::pg_conninfo(dest_name);
    std::unique_ptr<test_env::pg_scratch_db> loaded;
    if (GetParam()) {
        loaded = std::make_unique<test_env::pg_scratch_db>("qdrv_case_out_load");
        std::string said;
        ASSERT_EQ(test_env::run_psql(loaded->name(), path, said), 0) << said;
        conninfo = loaded->conninfo();
    }
    EXPECT_EQ(pg_rows(conninfo, "SELECT conname || '>' || confrelid::regclass::text FROM pg_constraint "
                                "WHERE contype = 'f' ORDER BY 1"),
              strings{"fk_small>parent"});
}

// Holds the run before the rows of a table until a condition on the destination holds (or 60
// s pass), and notes whether it held.
class hold_before_table_hooks : public recording_hooks {
public:
    void before(const std::wstring& table, std::function<bool()> ready) { m_waits[table] = std::move(ready); }
    void progress_line(const std::wstring& line) override
    {
        recording_hooks::progress_line(line);
        for (auto& [table, ready] : m_waits) {
            if (line.rfind(L"Converting table " + table + L" (", 0) != 0) continue;
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            bool met = false;
            while (!(met = ready()) && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            held[table] = met;
        }
    }
    std::map<std::wstring, bool> held;

private:
    std::map<std::wstring, std::function<bool()>> m_waits;
};

// Run to its end (false), or stopped before the last table's rows (true).
class early_key_test : public conversion_relations_test, public ::testing::WithParamInterface<bool> {};

TEST_P(early_key_test, a_key_is_made_beside_later_rows_once_its_tables_are_finished)
{
    const bool stopped = GetParam();
    // c, o and k refer to p; o has a row whose parent is missing, so PostgreSQL refuses its key;
    // f is in the destination already with a column more, so its item fails and its key waits
    // for the last table; k is there with its key; z comes last.
    source("SET SESSION FOREIGN_KEY_CHECKS = 0;"
           "CREATE TABLE p (id INT PRIMARY KEY);"
           "CREATE TABLE c (id INT PRIMARY KEY, pid INT,"
           " CONSTRAINT c_p FOREIGN KEY (pid) REFERENCES p (id) ON DELETE CASCADE);"
           "CREATE TABLE o (id INT PRIMARY KEY, pid INT, CONSTRAINT o_p FOREIGN KEY (pid) REFERENCES p (id));"
           "CREATE TABLE f (id INT PRIMARY KEY, pid INT, CONSTRAINT f_p FOREIGN KEY (pid) REFERENCES p (id));"
           "CREATE TABLE k (id INT PRIMARY KEY, pid INT, CONSTRAINT k_p FOREIGN KEY (pid) REFERENCES p (id));"
           "CREATE TABLE z (id INT PRIMARY KEY);"
           "INSERT INTO p VALUES (1), (2); INSERT INTO c VALUES (1, 1), (2, 2); INSERT INTO o VALUES (1, 1), (2, 9);"
           "INSERT INTO f VALUES (1, 1); INSERT INTO k VALUES (1, 2); INSERT INTO z VALUES (1);"
           "SET SESSION FOREIGN_KEY_CHECKS = 1");
    dest("CREATE TABLE f (id int PRIMARY KEY, pid int, extra int)");
    auto count = [&](const std::string& sql) { return rows(sql).at(0); };
    auto key_there = [&](const std::string& name) {
        return count("SELECT count(*) FROM pg_constraint WHERE contype = 'f' AND conname = '" + name + "'") == "1";
    };
    hold_before_table_hooks holder;
    hooks_scope scope(holder);
    // p's key stands before c's rows go in, so c's key is ready the moment c is finished.
    holder.before(L"c", [&] {
        return count("SELECT count(*) FROM pg_index WHERE indisprimary AND indrelid = 'public.p'::regclass") == "1";
    });
    bool failed_table_waited = false;
    holder.before(L"z", [&] {
        if (!key_there("c_p")) return false;
        failed_table_waited = !key_there("f_p");
        if (stopped) conv->request_stop();
        return true;
    });
    // k has its key from an earlier run: kept without a word, stopped or not.
    dest("CREATE TABLE p (id int PRIMARY KEY); CREATE TABLE o (id int PRIMARY KEY, pid int);"
         "CREATE TABLE k (id int PRIMARY KEY, pid int CONSTRAINT k_p REFERENCES p (id))");
    conv->set_mode(3);
    conv->selected_tables = {L"f", L"k", L"o", L"c", L"p", L"z"};  // loaded p, f, k, o, c, z
    conv->check_dest();
    run();
    ASSERT_EQ(conv->outcome(), stopped ? conversion_outcome::stopped : conversion_outcome::completed);

    EXPECT_TRUE(holder.held[L"c"]);
    EXPECT_TRUE(holder.held[L"z"]) << "c's key was not made before z's rows";
    EXPECT_TRUE(failed_table_waited) << "the key of the failed table was made beside the rows";
    // The keys as the source has them, or none of the run's own when it stopped; the refused
    // one reported once, as after the last table.
    const strings keys = rows("SELECT conname || ' ' || pg_get_constraintdef(oid) FROM pg_constraint "
                              "WHERE contype = 'f' ORDER BY 1");
    if (stopped)
        EXPECT_EQ(keys, (strings{"k_p FOREIGN KEY (pid) REFERENCES p(id)"}));
    else
        EXPECT_EQ(keys, (strings{"c_p FOREIGN KEY (pid) REFERENCES p(id) ON DELETE CASCADE",
                                 "f_p FOREIGN KEY (pid) REFERENCES p(id)", "k_p FOREIGN KEY (pid) REFERENCES p(id)"}));
    EXPECT_EQ(conv->failures.keys.load(), 1u);
    EXPECT_EQ(conv->failures.tables.load(), 1u);
    const std::vector<std::string> said = holder.reports();
    EXPECT_EQ(std::count_if(said.begin(), said.end(),
                            [](const std::string& r) { return r.find("o_p") != std::string::npos; }),
              1)
        << testing::PrintToString(said);
    EXPECT_TRUE(contains(said, "Foreign key 'o_p' of table 'public.o'")) << testing::PrintToString(said);
    EXPECT_TRUE(contains(said, "Cannot create foreign key 'o_p': ")) << testing::PrintToString(said);
    EXPECT_FALSE(contains(said, "k_p")) << testing::PrintToString(said);
}

TEST_F(conversion_relations_test, a_key_whose_session_ends_while_the_server_stays_is_made_after_the_last_table)
{
    source("CREATE TABLE p (id INT PRIMARY KEY);"
           "CREATE TABLE c (id INT PRIMARY KEY, pid INT, CONSTRAINT c_p FOREIGN KEY (pid) REFERENCES p (id));"
           "CREATE TABLE z (id INT PRIMARY KEY);"
           "INSERT INTO p VALUES (1); INSERT INTO c VALUES (1, 1); INSERT INTO z VALUES (1)");
    const std::string conninfo = test_env::pg_conninfo(dest_name);
    auto count = [&](const std::string& sql) { return rows(sql).at(0); };
    // Once p has its key, a SHARE lock on p holds c's foreign key back; its session is ended
    // while it waits.
    std::unique_ptr<pqxx::connection> holder;
    std::unique_ptr<pqxx::work> lock;
    hold_before_table_hooks hooks_here;
    hooks_scope scope(hooks_here);
    hooks_here.before(L"c", [&] {
        if (count("SELECT count(*) FROM pg_index WHERE indisprimary AND indrelid = 'public.p'::regclass") != "1")
            return false;
        holder = std::make_unique<pqxx::connection>(conninfo);
        lock = std::make_unique<pqxx::work>(*holder);
        lock->exec("LOCK TABLE public.p IN SHARE MODE");
        return true;
    });
    std::string ended;
    hooks_here.before(L"z", [&] {
        const strings waiting = rows("SELECT pid FROM pg_stat_activity WHERE wait_event_type = 'Lock' "
                                     "AND query LIKE '%FOREIGN KEY%'");
        if (waiting.empty()) return false;
        ended = count("SELECT pg_terminate_backend(" + waiting[0] + ")");
        lock.reset();
        holder.reset();
        return true;
    });
    conv->selected_tables = {L"c", L"p", L"z"};
    conv->check_dest();
    run();
    ASSERT_EQ(conv->outcome(), conversion_outcome::completed);

    EXPECT_TRUE(hooks_here.held[L"z"]) << "c's key was not made beside z's rows";
    EXPECT_EQ(ended, "t");
    // Made once, by the run's own connection after the last table, and nothing reported.
    EXPECT_EQ(rows("SELECT conname || ' ' || pg_get_constraintdef(oid) FROM pg_constraint WHERE contype = 'f'"),
              (strings{"c_p FOREIGN KEY (pid) REFERENCES p(id)"}));
    EXPECT_EQ(conv->failures.keys.load(), 0u);
    EXPECT_TRUE(hooks_here.reports().empty()) << testing::PrintToString(hooks_here.reports());
}

INSTANTIATE_TEST_SUITE_P(runs, early_key_test, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "stopped" : "completed"; });

TEST(conversion_relations_views, ordered_after_the_views_they_read_and_chosen_by_selection)
{
    const udb_view_list source = {{L"top", L"select * from `mid`"},
                                  {L"mid", L"select * from `base` join `t`"},
                                  {L"base", L"select 1"},
                                  {L"alone", L"select 'mid'"}};
    const udb_view_list ordered = conversion_relations::in_dependency_order(source);
    std::vector<std::wstring> names;
    for (const auto& v : ordered) names.push_back(v.first);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"base", L"alone", L"mid", L"top"}));

    // A selection takes the source's present text; a view the source lost keeps its own.
    const udb_view_list chosen =
        conversion_relations::views_to_convert(source, false, {{L"MID", L"old"}, {L"gone", L"select 2"}});
    EXPECT_EQ(chosen, (udb_view_list{{L"mid", L"select * from `base` join `t`"}, {L"gone", L"select 2"}}));
    EXPECT_EQ(conversion_relations::views_to_convert(source, true, {}), source);
}

// --- the order in which tables load ---------------------------------------------------------

struct load_order_case {
    const char* name;
    std::vector<std::wstring> tables;                               // as listed
    std::vector<std::pair<std::wstring, std::wstring>> references;  // (table, referenced table)
    std::vector<std::wstring> expected;
    std::vector<std::vector<std::wstring>> cycles;
};
std::ostream& operator<<(std::ostream& os, const load_order_case& c) { return os << c.name; }

class load_order_test : public ::testing::TestWithParam<load_order_case> {};

TEST_P(load_order_test, parents_load_before_their_children)
{
    const load_order_case& c = GetParam();
    std::vector<std::vector<std::wstring>> cycles;
    std::vector<std::wstring> order;
    for (std::size_t at : conversion_relations::load_order(c.tables, c.references, cycles))
        order.push_back(c.tables.at(at));
    EXPECT_EQ(order, c.expected);
    EXPECT_EQ(cycles, c.cycles);
}

INSTANTIATE_TEST_SUITE_P(
    conversion_relations, load_order_test,
    ::testing::Values(
        load_order_case{"no_references_keep_the_listed_order", {L"b", L"a", L"c"}, {}, {L"b", L"a", L"c"}, {}},
        load_order_case{"a_chain_listed_children_first",
                        {L"rental", L"inventory", L"store"},
                        {{L"rental", L"inventory"}, {L"inventory", L"store"}},
                        {L"store", L"inventory", L"rental"},
                        {}},
        // Only what the references demand moves; the rest keeps its place.
        load_order_case{"unrelated_tables_keep_their_place",
                        {L"a_child", L"b", L"c_parent", L"d"},
                        {{L"a_child", L"c_parent"}},
                        {L"b", L"c_parent", L"a_child", L"d"},
                        {}},
        load_order_case{"a_table_referring_to_itself_or_to_an_unlisted_table",
                        {L"staff", L"note"},
                        {{L"staff", L"staff"}, {L"note", L"secret"}},
                        {L"staff", L"note"},
                        {}},
        load_order_case{"names_matched_exactly_first_then_ignoring_case",
                        {L"Child", L"Parent", L"parent"},
                        {{L"CHILD", L"parent"}, {L"child", L"PARENT"}},
                        {L"Parent", L"parent", L"Child"},
                        {}},
        // A circle loads in the listed order, after its own parents and before its children.
        load_order_case{"a_circle_is_named_and_loads_in_the_listed_order",
                        {L"z_child", L"b_ring", L"a_ring", L"root"},
                        {{L"a_ring", L"b_ring"}, {L"b_ring", L"a_ring"}, {L"a_ring", L"root"},
                         {L"z_child", L"a_ring"}},
                        {L"root", L"b_ring", L"a_ring", L"z_child"},
                        {{L"b_ring", L"a_ring"}}},
        load_order_case{"a_diamond",
                        {L"order_line", L"orders", L"product", L"customer"},
                        {{L"order_line", L"orders"}, {L"order_line", L"product"}, {L"orders", L"customer"}},
                        {L"product", L"customer", L"orders", L"order_line"},
                        {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
