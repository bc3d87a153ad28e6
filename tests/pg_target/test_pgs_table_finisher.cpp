// The table finisher builds keys on its own connection: steps in order, a refused
// step kept for the run's thread with the server's text while the later ones still
// run, and a lost connection kept once, dropping what was still queued.
#include <gtest/gtest.h>

#include "pg_target/pgs_table_finisher.h"
#include "pgs_live_fixture.h"

namespace {

pgs_finish_step step(const std::string& sql, const std::string& before = std::string())
{
    pgs_finish_step s;
    s.what = L"Index of table 'f'";
    s.before = before;
    s.sql = sql;
    s.failure_prefix = "Cannot create index: ";
    return s;
}

class table_finisher_test : public pgs_live_suite {
protected:
    std::unique_ptr<pgs_table_finisher> make()
    {
        return std::make_unique<pgs_table_finisher>(
            std::make_unique<pgs_connection>(engine().connection()->conninfo() + " dbname=" + s_db_name));
    }
};

TEST_F(table_finisher_test, refused_step_is_kept_and_the_later_ones_run)
{
    sql("DROP TABLE IF EXISTS fin_a; CREATE TABLE fin_a (id int, v int); INSERT INTO fin_a VALUES (1, 1), (1, 2)");
    auto finisher = make();
    std::vector<pgs_finish_step> steps;
    steps.push_back(step("ALTER TABLE fin_a ADD CONSTRAINT fin_a_pk PRIMARY KEY (id)",
                         "DROP INDEX IF EXISTS public.fin_a_pk"));
    steps.push_back(step("CREATE INDEX fin_a_v ON fin_a (v)", "DROP INDEX IF EXISTS public.no_such_index"));
    steps.push_back(step("ALTER TABLE fin_a ALTER COLUMN v SET NOT NULL"));
    finisher->submit(std::move(steps));
    const auto failures = finisher->wait();
    ASSERT_EQ(failures.size(), 1u);
    const udb_failure& f = failures[0].failure;
    EXPECT_EQ(f.object, L"Index of table 'f'");
    EXPECT_EQ(f.kind, udb_failure_kind::index);
    EXPECT_FALSE(failures[0].lost);
    EXPECT_NE(f.text.find("Cannot create index: "), std::string::npos) << f.text;
    EXPECT_NE(f.text.find("duplicate"), std::string::npos) << f.text;
    EXPECT_EQ(f.sqlstate, "23505");
    EXPECT_EQ(f.statement, "ALTER TABLE fin_a ADD CONSTRAINT fin_a_pk PRIMARY KEY (id)");
    EXPECT_EQ(sql1("SELECT count(*) FROM pg_indexes WHERE tablename = 'fin_a'"), "1");
    EXPECT_EQ(sql1("SELECT attnotnull::text FROM pg_attribute WHERE attrelid = 'fin_a'::regclass AND attname = 'v'"),
              "true");
    EXPECT_TRUE(finisher->collect().empty());
}

TEST_F(table_finisher_test, lost_connection_is_one_failure_and_drops_the_queue)
{
    sql("DROP TABLE IF EXISTS fin_b; CREATE TABLE fin_b (id int)");
    auto finisher = make();
    std::vector<pgs_finish_step> steps;
    // The first step ends its own session; nothing after it can run.
    steps.push_back(step("SELECT pg_terminate_backend(pg_backend_pid())"));
    steps.push_back(step("CREATE INDEX fin_b_1 ON fin_b (id)"));
    steps.push_back(step("CREATE INDEX fin_b_2 ON fin_b (id)"));
    finisher->submit(std::move(steps));
    const auto failures = finisher->wait();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_TRUE(failures[0].lost);
    EXPECT_EQ(sql1("SELECT count(*) FROM pg_indexes WHERE tablename = 'fin_b'"), "0");
}

}  // namespace
