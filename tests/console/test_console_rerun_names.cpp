// A rerun into the destination of an earlier run gives every table, index, key constraint and
// sequence the name the first run gave it, in every mode: a table overwritten in mode 1 takes
// back the names its dropped predecessor held, while a name that another table of the
// destination holds still makes the run's index take a name of its own. A script loaded again
// names everything as its first load did.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "console_test_support.h"
#include "support/psql_load.h"

namespace {

using namespace console_test;
using strings = std::vector<std::string>;

// Every MySQL primary key is called PRIMARY, and two tables have an index ix_n: the first
// run numbers them. q's index is named like an index of the user's own table.
const char* const source_tables =
    "CREATE TABLE p (id INT PRIMARY KEY, code VARCHAR(10), n INT, UNIQUE KEY uq_code (code), KEY ix_n (n));"
    "CREATE TABLE c (id INT AUTO_INCREMENT PRIMARY KEY, pid INT, n INT, KEY ix_n2 (n),"
    "  CONSTRAINT fk_cp FOREIGN KEY (pid) REFERENCES p (id)) ENGINE=InnoDB;"
    "CREATE TABLE d (id INT PRIMARY KEY, n INT, KEY ix_n (n));"
    "CREATE TABLE q (id INT PRIMARY KEY, v INT, KEY ix_held (v));"
    "CREATE TABLE Mx (Id INT PRIMARY KEY, N INT, KEY IX_Mixed (N));"
    "INSERT INTO p VALUES (1, 'a', 1), (2, 'b', 2); INSERT INTO c (pid, n) VALUES (1, 1), (2, 2);"
    "INSERT INTO d VALUES (1, 1); INSERT INTO q VALUES (1, 1); INSERT INTO Mx VALUES (1, 1);";

class rerun_names_test : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        src.exec(source_tables);
        dst.create();
        dst.exec("CREATE TABLE user_t (a INTEGER); CREATE INDEX ix_held ON user_t (a)");
    }

    // more: further options; script: the script to write instead of converting live.
    void run(int mode, const strings& more = {}, const std::string& script = {})
    {
        strings args = connection_options() + strings{"--src=" + src.name(), "--mode=" + std::to_string(mode)};
        args = args + (script.empty() ? strings{"--dest=" + dst.name()} : strings{"--dump", "--dest=" + script});
        if (GetParam()) args.push_back("--case_sens");
        const run_result r = run_quindrel(args + more);
        ASSERT_EQ(r.status, 0) << "mode " << mode << "\n" << r.err;
    }

    // Every relation and constraint of the schema with the table it belongs to.
    strings names() const
    {
        strings all = dst.rows(
            "SELECT t.relname || '.' || i.relname FROM pg_index x JOIN pg_class i ON i.oid = x.indexrelid"
            " JOIN pg_class t ON t.oid = x.indrelid WHERE t.relnamespace = 'public'::regnamespace ORDER BY 1");
        for (const std::string& s : dst.rows("SELECT conrelid::regclass::text || '.' || conname || ':' || contype::text"
                                             " FROM pg_constraint WHERE connamespace = 'public'::regnamespace"
                                             " ORDER BY 1"))
            all.push_back(s);
        for (const std::string& s : dst.rows("SELECT relkind::text || ':' || relname FROM pg_class WHERE relnamespace ="
                                             " 'public'::regnamespace AND relkind IN ('r', 'S') ORDER BY 1"))
            all.push_back(s);
        return all;
    }

    mysql_source src;
    pg_destination dst;
    scratch dir;
};

TEST_P(rerun_names_test, every_mode_keeps_the_names_of_the_first_run)
{
    run(1);
    const strings first = names();
    // The user's index keeps its name; q's index has one of its own.
    EXPECT_NE(std::find(first.begin(), first.end(), "user_t.ix_held"), first.end());
    EXPECT_EQ(std::find(first.begin(), first.end(), "q.ix_held"), first.end());
    EXPECT_EQ(dst.value("SELECT count(*) FROM pg_indexes WHERE tablename = 'q' AND indexname LIKE 'ix_held%'"), "1");

    struct rerun {
        int mode;
        strings more;
    };
    const std::string only_d = dir.write("tables.txt", "d\n");
    const rerun reruns[] = {{1, {}}, {1, {}}, {1, {"--tab_file=" + only_d}}, {2, {}}, {3, {}}, {4, {}}, {1, {}}};
    for (const rerun& r : reruns) {
        run(r.mode, r.more);
        EXPECT_EQ(names(), first) << "mode " << r.mode << (r.more.empty() ? "" : " " + r.more.front());
    }
    EXPECT_EQ(dst.value("SELECT count(*) FROM c"), "2");

    // A mode-1 script does not know the destination: loaded again, it names everything as the
    // load before did.
    const std::string script = dir.file("rerun.sql");
    run(1, {}, script);
    strings loads[2];
    for (strings& after : loads) {
        std::string said;
        ASSERT_EQ(test_env::run_psql(dst.name(), script, said), 0) << said;
        EXPECT_EQ(said.find("WARNING"), std::string::npos) << said;
        after = names();
    }
    EXPECT_EQ(loads[1], loads[0]);
    EXPECT_NE(std::find(loads[1].begin(), loads[1].end(), "user_t.ix_held"), loads[1].end());
}

INSTANTIATE_TEST_SUITE_P(case_sens, rerun_names_test, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "case_sensitive" : "folded"; });

}  // namespace
