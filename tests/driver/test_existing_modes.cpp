// Each mode for an existing destination keeps its word, live and through a script loaded with
// psql into the same database: what every table holds afterwards, which rows were refused and
// said so, and which foreign keys stand. The destination is either empty or an earlier
// conversion edited on the PostgreSQL side.
#include <ostream>

#include "driver/driver_test_support.h"
#include "support/psql_load.h"
#include "support/scratch_dir.h"

namespace {

using strings = std::vector<std::string>;

// A parent and its child (the child sorts first by name), and a table without a key.
const char* const source_tables = R"sql(
CREATE TABLE parent (id INT PRIMARY KEY, code VARCHAR(10) NOT NULL, name VARCHAR(20), UNIQUE KEY uq_code (code))
  ENGINE=InnoDB;
CREATE TABLE child (id INT PRIMARY KEY, parent_id INT, note VARCHAR(20),
  CONSTRAINT fk_child_parent FOREIGN KEY (parent_id) REFERENCES parent (id)) ENGINE=InnoDB;
CREATE TABLE loose (a INT, b VARCHAR(10));
INSERT INTO parent VALUES (1,'a','one'),(2,'b','two'),(3,'c','three');
INSERT INTO child VALUES (10,1,'x'),(11,2,'y'),(12,3,'z');
INSERT INTO loose VALUES (1,'p');
)sql";

// An earlier conversion edited in PostgreSQL: parent 1 and child 10 changed, parent 2 and its
// child deleted, rows only PostgreSQL has, one of them holding the code of the source's
// parent 3 under another key.
const char* const edited_destination = R"sql(
CREATE TABLE parent (id INTEGER PRIMARY KEY, code VARCHAR(10) NOT NULL UNIQUE, name VARCHAR(20));
CREATE TABLE child (id INTEGER PRIMARY KEY, parent_id INTEGER REFERENCES parent (id), note VARCHAR(20));
CREATE TABLE loose (a INTEGER, b VARCHAR(10));
INSERT INTO parent VALUES (1,'a','pg edit'),(9,'c','pg only');
INSERT INTO child VALUES (10,1,'pg edit'),(99,9,'pg only');
INSERT INTO loose VALUES (5,'pg only');
)sql";

const strings source_parent = {"1|a|one", "2|b|two", "3|c|three"};
const strings source_child = {"10|1|x", "11|2|y", "12|3|z"};
const strings source_loose = {"1|p"};
const strings edited_parent = {"1|a|pg edit", "9|c|pg only"};
const strings edited_child = {"10|1|pg edit", "99|9|pg only"};
const strings edited_loose = {"5|pg only"};

struct mode_case {
    const char* name;
    int mode;
    bool edited;   // the destination holds the edited tables; otherwise it has none
    bool tab_def;  // structure only
    strings parent, child, loose;
    strings refused;   // tables whose source row 3 is refused and named
    bool keyless;      // the keyless table's rows are appended to its rows, and said so
    strings keys;      // the foreign keys afterwards
    bool skip_idx = false;  // no indexes: existing tables are merged on the keys they have
};

std::ostream& operator<<(std::ostream& os, const mode_case& c) { return os << c.name; }

// The source's parent 3 collides with the code PostgreSQL keeps under key 9 (another unique
// key: refused, never passed over as if its key existed); its child 12 then has no parent.
// Parent 2 comes back before child 11 needs it.
const mode_case mode_cases[] = {
    {"overwrite_edited", 1, true, false, source_parent, source_child, source_loose, {}, false, {"fk_child_parent"}},
    {"skip_edited", 2, true, false, edited_parent, edited_child, edited_loose, {}, false, {"child_parent_id_fkey"}},
    {"skip_empty", 2, false, false, source_parent, source_child, source_loose, {}, false, {"fk_child_parent"}},
    {"merge_edited", 3, true, false, {"1|a|pg edit", "2|b|two", "9|c|pg only"},
     {"10|1|pg edit", "11|2|y", "99|9|pg only"}, {"1|p", "5|pg only"}, {"parent", "child"}, true,
     {"child_parent_id_fkey", "fk_child_parent"}},
    {"merge_structure_only_edited", 3, true, true, edited_parent, edited_child, edited_loose, {}, false,
     {"child_parent_id_fkey", "fk_child_parent"}},
    {"synchronize_edited", 4, true, false, {"1|a|one", "2|b|two", "9|c|pg only"}, {"10|1|x", "11|2|y", "99|9|pg only"},
     {"1|p", "5|pg only"}, {"parent", "child"}, true, {"child_parent_id_fkey", "fk_child_parent"}},
    {"synchronize_empty", 4, false, false, source_parent, source_child, source_loose, {}, false, {"fk_child_parent"}},
    {"merge_without_indexes_edited", 3, true, false, {"1|a|pg edit", "2|b|two", "9|c|pg only"},
     {"10|1|pg edit", "11|2|y", "99|9|pg only"}, {"1|p", "5|pg only"}, {"parent", "child"}, true,
     {"child_parent_id_fkey"}, true},
    {"synchronize_without_indexes_edited", 4, true, false, {"1|a|one", "2|b|two", "9|c|pg only"},
     {"10|1|x", "11|2|y", "99|9|pg only"}, {"1|p", "5|pg only"}, {"parent", "child"}, true, {"child_parent_id_fkey"},
     true},
};

class existing_mode_test : public driver_server_test,
                           public ::testing::WithParamInterface<std::tuple<mode_case, bool>> {
protected:
    void SetUp() override
    {
        driver_server_test::SetUp();
        source(source_tables);
        if (case_().edited)
            dest(edited_destination);
        else
            ensure_dest();
        conv->set_mode(case_().mode);
        conv->tab_def = case_().tab_def;
        conv->skip_idx = case_().skip_idx;
    }
    const mode_case& case_() const { return std::get<0>(GetParam()); }
    bool by_script() const { return std::get<1>(GetParam()); }
};

TEST_P(existing_mode_test, every_table_holds_what_the_mode_promises)
{
    const mode_case& c = case_();
    test_env::scratch_dir dir("qdrv_modes");
    std::string loaded;
    if (by_script()) {
        const std::string path = dir.path() + "/modes.sql";
        conv->b_direct = false;
        conv->set_destination(tk_utf8_to_unicode(path));
        conv->check_dest();
        run();
        ASSERT_EQ(conv->outcome(), conversion_outcome::completed);
        // Whatever the database refuses shows when it is loaded; the run cannot see it.
        EXPECT_FALSE(conv->failures.any()) << (hooks.continues.empty() ? "" : hooks.continues.front());
        ASSERT_EQ(test_env::run_psql(dest_name, path, loaded), 0) << loaded;
        EXPECT_EQ(loaded.find("ERROR"), std::string::npos) << loaded;
    } else {
        run();
        ASSERT_EQ(conv->outcome(), conversion_outcome::completed);
    }

    EXPECT_EQ(rows("SELECT id, code, name FROM parent ORDER BY id"), c.parent);
    EXPECT_EQ(rows("SELECT id, parent_id, note FROM child ORDER BY id"), c.child);
    EXPECT_EQ(rows("SELECT a, b FROM loose ORDER BY a"), c.loose);
    EXPECT_EQ(rows("SELECT conname FROM pg_constraint WHERE contype = 'f' ORDER BY 1"), c.keys);

    if (by_script()) {
        for (const std::string& table : c.refused)
            EXPECT_NE(loaded.find("WARNING:  Row 3 of table 'public." + table + "' was refused: "), std::string::npos)
                << table << "\n" << loaded;
        EXPECT_EQ(loaded.find("no primary or unique key to merge on") != std::string::npos, c.keyless) << loaded;
        // Only those rows: a row whose key the table there has is merged, never refused.
        std::size_t said = 0;
        for (std::size_t at = loaded.find("was refused: "); at != std::string::npos;
             at = loaded.find("was refused: ", at + 1))
            ++said;
        EXPECT_EQ(said, c.refused.size()) << loaded;
        return;
    }
    // One report per refused row, counted; the keyless table said once.
    EXPECT_EQ(conv->failures.rows.load(), c.refused.size());
    EXPECT_EQ(conv->failures.keyless_merges.load(), c.keyless ? 1u : 0u);
    EXPECT_EQ(hooks.continues.size(), c.refused.size() + (c.keyless ? 1u : 0u));
    for (const std::string& table : c.refused)
        EXPECT_TRUE(contains(hooks.continues, table + ", record #3: ")) << table;
}

INSTANTIATE_TEST_SUITE_P(modes, existing_mode_test,
                         ::testing::Combine(::testing::ValuesIn(mode_cases), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "_script" : "_live");
                         });

// A mode-1 script keeps the live run's word where it is loaded: a table goes only with what
// the script makes again (a converted child's key, a converted view); one that the user's own
// view or another table's key depends on keeps its rows and those objects, psql names it in a
// warning with the server's text, and the script loads to its end.
class overwrite_script_test : public driver_server_test, public ::testing::WithParamInterface<bool> {};

TEST_P(overwrite_script_test, tables_others_depend_on_are_kept_and_named_the_rest_replaced)
{
    source(std::string(source_tables) +
           "CREATE TABLE viewed (id INT PRIMARY KEY AUTO_INCREMENT, v VARCHAR(10));"
           "CREATE TABLE referred (id INT PRIMARY KEY, v VARCHAR(10));"
           "INSERT INTO viewed VALUES (1, 'src'), (2, 'src'); INSERT INTO referred VALUES (1, 'src');"
           "CREATE VIEW names AS SELECT id, name FROM parent");
    // Only converted tables' keys and a converted view depend on child and parent: loose (which
    // loads after child) has a key of its own on child.
    dest(std::string(edited_destination) +
         "ALTER TABLE loose ADD CONSTRAINT old_loose_key FOREIGN KEY (a) REFERENCES child (id) NOT VALID;"
         "CREATE VIEW names AS SELECT id, name FROM parent;"
         "CREATE TABLE viewed (id SERIAL PRIMARY KEY, v TEXT); INSERT INTO viewed (v) VALUES ('pg');"
         "CREATE VIEW user_view AS SELECT v FROM viewed;"
         "CREATE TABLE referred (id INTEGER PRIMARY KEY, v TEXT); INSERT INTO referred VALUES (8, 'pg');"
         "CREATE TABLE user_lines (r INTEGER CONSTRAINT user_key REFERENCES referred (id));"
         "INSERT INTO user_lines VALUES (8)");
    conv->set_mode(1);
    conv->convert_views = true;
    conv->get_pgs_engine().fast_insert = GetParam();
    test_env::scratch_dir dir("qdrv_overwrite");
    const std::string path = dir.path() + "/overwrite.sql";
    conv->b_direct = false;
    conv->set_destination(tk_utf8_to_unicode(path));
    conv->check_dest();
    run();
    ASSERT_EQ(conv->outcome(), conversion_outcome::completed);
    const std::string script = test_env::read_file(path);
    EXPECT_EQ(script.find("CASCADE"), std::string::npos);

    std::string loaded;
    ASSERT_EQ(test_env::run_psql(dest_name, path, loaded), 0) << loaded;
    EXPECT_EQ(loaded.find("ERROR"), std::string::npos) << loaded;
    for (const char* kept : {"viewed", "referred"})
        EXPECT_NE(loaded.find(std::string("WARNING:  Table 'public.") + kept + "' was not overwritten"),
                  std::string::npos)
            << kept << "\n" << loaded;
    EXPECT_NE(loaded.find("view user_view depends on table viewed"), std::string::npos) << loaded;
    EXPECT_NE(loaded.find("constraint user_key on table user_lines depends on table referred"), std::string::npos)
        << loaded;
    for (const char* replaced : {"parent", "child", "loose"})
        EXPECT_EQ(loaded.find(std::string("'public.") + replaced + "' was not"), std::string::npos) << loaded;

    EXPECT_EQ(rows("SELECT id, code, name FROM parent ORDER BY id"), source_parent);
    EXPECT_EQ(rows("SELECT id, parent_id, note FROM child ORDER BY id"), source_child);
    EXPECT_EQ(rows("SELECT a, b FROM loose ORDER BY a"), source_loose);
    EXPECT_EQ(rows("SELECT id, v FROM viewed"), strings{"1|pg"});
    EXPECT_EQ(rows("SELECT id, v FROM referred"), strings{"8|pg"});
    // The kept table's counter was not moved by the rows it did not get.
    EXPECT_EQ(rows("SELECT nextval(pg_get_serial_sequence('viewed', 'id'))"), strings{"2"});
    EXPECT_EQ(rows("SELECT string_agg(viewname, ',' ORDER BY viewname) FROM pg_views WHERE schemaname = 'public'"),
              strings{"names,user_view"});
    EXPECT_EQ(rows("SELECT conname || '>' || confrelid::regclass FROM pg_constraint WHERE contype = 'f' ORDER BY 1"),
              (strings{"fk_child_parent>parent", "user_key>referred"}));
}

INSTANTIATE_TEST_SUITE_P(rows, overwrite_script_test, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "copy" : "insert"; });

// A script in modes 2-4 finds a view of the user's own under a source table's name: the table
// is not created and takes no row, the load says so by name, the view stays as it was, and the
// other tables arrive.
class name_held_script_test : public driver_server_test, public ::testing::WithParamInterface<int> {};

TEST_P(name_held_script_test, a_view_under_the_table_name_is_named_and_left_alone)
{
    source(source_tables);
    dest("CREATE VIEW loose AS SELECT 7 AS a, 'pg view'::varchar(10) AS b;"
         "CREATE VIEW parent AS SELECT 1 AS id, 'a'::varchar(10) AS code, 'pg view'::varchar(20) AS name");
    conv->set_mode(GetParam());
    test_env::scratch_dir dir("qdrv_name_held");
    const std::string path = dir.path() + "/held.sql";
    conv->b_direct = false;
    conv->set_destination(tk_utf8_to_unicode(path));
    conv->check_dest();
    run();
    ASSERT_EQ(conv->outcome(), conversion_outcome::completed);

    std::string loaded;
    ASSERT_EQ(test_env::run_psql(dest_name, path, loaded), 0) << loaded;
    for (const char* held : {"parent", "loose"})
        EXPECT_NE(loaded.find(std::string("WARNING:  Table 'public.") + held +
                              "' was not created, and none of its rows loaded"),
                  std::string::npos)
            << held << "\n" << loaded;
    // Nothing else: no row was offered to a view.
    EXPECT_EQ(loaded.find("was refused"), std::string::npos) << loaded;
    EXPECT_EQ(loaded.find("merge on"), std::string::npos) << loaded;
    EXPECT_EQ(rows("SELECT a, b FROM loose"), strings{"7|pg view"});
    EXPECT_EQ(rows("SELECT id, code, name FROM parent"), strings{"1|a|pg view"});
    EXPECT_EQ(rows("SELECT id, parent_id, note FROM child ORDER BY id"), source_child);
}

INSTANTIATE_TEST_SUITE_P(modes, name_held_script_test, ::testing::Values(2, 3, 4));

class load_order_run_test : public driver_server_test {};

TEST_F(load_order_run_test, tables_that_refer_to_each_other_are_named_and_converted_whole)
{
    source("CREATE TABLE b_ring (id INT PRIMARY KEY, a_id INT) ENGINE=InnoDB;"
           "CREATE TABLE a_ring (id INT PRIMARY KEY, b_id INT,"
           "  CONSTRAINT fk_a_b FOREIGN KEY (b_id) REFERENCES b_ring (id)) ENGINE=InnoDB;"
           "ALTER TABLE b_ring ADD CONSTRAINT fk_b_a FOREIGN KEY (a_id) REFERENCES a_ring (id);"
           "INSERT INTO b_ring VALUES (1, NULL); INSERT INTO a_ring VALUES (1, 1); UPDATE b_ring SET a_id = 1");
    run();
    EXPECT_EQ(conv->outcome(), conversion_outcome::completed);
    EXPECT_TRUE(hooks.reports().empty()) << hooks.reports().front();
    std::vector<std::string> lines;
    for (const std::wstring& line : hooks.lines) lines.push_back(tk_unicode_to_utf8(line));
    EXPECT_TRUE(contains(lines, "Tables 'a_ring', 'b_ring' refer to each other in a circle: they are loaded in the "
                                "order listed\r\n"));
    EXPECT_EQ(rows("SELECT conname FROM pg_constraint WHERE contype = 'f' ORDER BY 1"), (strings{"fk_a_b", "fk_b_a"}));
}

// The table there has another primary key than the source, or the source's columns in another
// order: a live merge finds its rows by the source's key (added there as a unique index where it
// lacks it) on the columns of its names, as a script does, so a row whose source key is new but
// whose other key is held is refused and reported, never passed over nor written onto the row
// that holds it.
class other_key_merge_test : public driver_server_test,
                             public ::testing::WithParamInterface<std::tuple<int, bool>> {};

TEST_P(other_key_merge_test, rows_are_found_by_the_source_key)
{
    const auto [mode, copy] = GetParam();
    source("CREATE TABLE item (id INT PRIMARY KEY, code VARCHAR(10) NOT NULL, v VARCHAR(10));"
           "INSERT INTO item VALUES (1,'a','one'),(2,'b','two'),(5,'c','five');"
           "CREATE TABLE swapped (id INT PRIMARY KEY, n INT);"
           "INSERT INTO swapped VALUES (1,10),(2,20)");
    dest("CREATE TABLE item (id INTEGER, code VARCHAR(10) PRIMARY KEY, v VARCHAR(10));"
         "INSERT INTO item VALUES (5,'a','pg');"
         "CREATE TABLE swapped (n INTEGER UNIQUE, id INTEGER PRIMARY KEY);"
         "INSERT INTO swapped VALUES (20,1)");
    conv->set_mode(mode);
    conv->get_pgs_engine().fast_insert = copy;
    run();
    ASSERT_EQ(conv->outcome(), conversion_outcome::completed);
    EXPECT_EQ(rows("SELECT id, code, v FROM item ORDER BY id"),
              (strings{"2|b|two", mode == 4 ? "5|c|five" : "5|a|pg"}));
    // Synchronize gives id 1 its n first, so the n of id 2 is free again.
    EXPECT_EQ(rows("SELECT id, n FROM swapped ORDER BY id"), mode == 4 ? (strings{"1|10", "2|20"}) : strings{"1|20"});
    const strings refused = mode == 4 ? strings{"item, record #1: "} : strings{"item, record #1: ", "swapped, record #2: "};
    EXPECT_EQ(conv->failures.rows.load(), refused.size());
    EXPECT_EQ(hooks.continues.size(), refused.size());
    for (const std::string& row : refused)
        EXPECT_TRUE(contains(hooks.continues, row)) << row;
}

INSTANTIATE_TEST_SUITE_P(modes, other_key_merge_test, ::testing::Combine(::testing::Values(3, 4), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) == 3 ? "merge" : "synchronize") +
                                    (std::get<1>(info.param) ? "_copy" : "_insert");
                         });

// A row with NULL in the key it is merged on that the table refuses for another reason is
// reported once, as refused: it is not among the rows said to be appended.
class null_key_merge_test : public driver_server_test {};

TEST_F(null_key_merge_test, a_refused_row_with_null_in_the_key_is_not_said_appended)
{
    source("CREATE TABLE u (a INT, v INT, UNIQUE KEY (a)); INSERT INTO u VALUES (NULL,1),(NULL,-1),(1,2),(NULL,3)");
    dest("CREATE TABLE u (a INTEGER UNIQUE, v INTEGER CHECK (v > 0))");
    conv->set_mode(3);
    run();
    ASSERT_EQ(conv->outcome(), conversion_outcome::completed);
    EXPECT_EQ(rows("SELECT count(*) FROM u"), strings{"3"});
    EXPECT_EQ(conv->failures.rows.load(), 1u);
    ASSERT_EQ(hooks.continues.size(), 2u);
    EXPECT_TRUE(contains(hooks.continues, "u, record #2: "));
    EXPECT_TRUE(contains(hooks.continues, "public.u: 2 rows hold NULL in the key they are merged on"));
}

}  // namespace
