// The table finisher builds keys on its own connection: steps in order, a refused
// step kept for the run's thread with the server's text while the later ones still
// run; a step whose session is ended is a failure of its own table, the later steps
// run on a new connection, or each is a failure of its own table when none opens. With
// several connections a table's index builds run side by side, its other steps in order.
// A step of two tables (a foreign key) keeps its order among the steps of both; a step the
// run can do itself is handed back, not failed, when its session ends or the run drops it.
#include <gtest/gtest.h>

#include "pg_target/pgs_table_finisher.h"
#include "pgs_live_fixture.h"

namespace {

pgs_finish_step step(const std::string& sql, const std::string& before = std::string(),
                     const std::wstring& table = L"f")
{
    pgs_finish_step s;
    s.table = table;
    s.what = L"Index of table '" + table + L"'";
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

TEST_F(table_finisher_test, a_step_lost_with_its_session_fails_under_its_own_table)
{
    const std::string role = test_env::unique_name("fin_role");
    sql("CREATE ROLE " + role + " LOGIN SUPERUSER PASSWORD 'pw'");
    struct {
        const char* name;
        bool logins_refused;  // the finisher's role may no longer log in once its session ends
    } cases[] = {{"reconnected", false}, {"cannot_reconnect", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sql("DROP TABLE IF EXISTS fin_b, fin_c; CREATE TABLE fin_b (id int); CREATE TABLE fin_c (id int);"
            "ALTER ROLE " + role + " LOGIN");
        auto finisher = std::make_unique<pgs_table_finisher>(std::make_unique<pgs_connection>(
            test_env::pg_conninfo(s_db_name) + " user=" + role + " password=pw"));
        if (c.logins_refused) sql("ALTER ROLE " + role + " NOLOGIN");
        std::vector<pgs_finish_step> steps;
        // fin_b's first step ends its own session; fin_b's index and fin_c's keys follow.
        steps.push_back(step("SELECT pg_terminate_backend(pg_backend_pid())", "", L"public.fin_b"));
        steps.push_back(step("CREATE INDEX fin_b_1 ON fin_b (id)", "", L"public.fin_b"));
        steps.push_back(step("CREATE INDEX fin_c_1 ON fin_c (id)", "", L"public.fin_c"));
        steps.push_back(step("ALTER TABLE fin_c ADD CONSTRAINT fin_c_pk PRIMARY KEY (id)", "", L"public.fin_c"));
        finisher->submit(std::move(steps));
        const auto failures = finisher->wait();

        std::vector<std::wstring> tables;
        for (const auto& f : failures) {
            EXPECT_TRUE(f.lost) << f.failure.text;
            EXPECT_EQ(f.failure.object, L"Index of table '" + f.failure.table + L"'");
            EXPECT_EQ(f.failure.text.rfind("Cannot create index: ", 0), 0u) << f.failure.text;
            tables.push_back(f.failure.table);
        }
        const std::string built = sql1("SELECT count(*) FROM pg_indexes WHERE tablename IN ('fin_b', 'fin_c')");
        if (c.logins_refused) {
            // Nothing more was built: every step is a failure, under its own table.
            EXPECT_EQ(tables, (std::vector<std::wstring>{L"public.fin_b", L"public.fin_b", L"public.fin_c",
                                                          L"public.fin_c"}));
            EXPECT_EQ(built, "0");
        } else {
            // Only the step whose session ended; the rest were built on a new connection.
            EXPECT_EQ(tables, std::vector<std::wstring>{L"public.fin_b"});
            EXPECT_EQ(built, "3");
        }
        finisher.reset();
    }
    sql("DROP ROLE " + role);
}

TEST_F(table_finisher_test, index_builds_run_side_by_side_and_the_other_steps_keep_their_order)
{
    sql("DROP TABLE IF EXISTS fin_log, fin_d; DROP SEQUENCE IF EXISTS fin_seq;"
        "CREATE TABLE fin_log (step text, at bigint); CREATE SEQUENCE fin_seq;"
        "CREATE TABLE fin_d (id int); INSERT INTO fin_d VALUES (1), (1)");
    auto finisher = std::make_unique<pgs_table_finisher>(
        std::make_unique<pgs_connection>(engine().connection()->conninfo() + " dbname=" + s_db_name), 3);
    ASSERT_EQ(finisher->connections(), 3u);
    auto logged = [](const std::string& name) {
        return "INSERT INTO fin_log VALUES ('" + name + "', nextval('fin_seq'));";
    };
    auto on = [](pgs_finish_step s, const std::string& target, bool side) {
        s.target = target;
        s.side_by_side = side;
        return s;
    };
    std::vector<pgs_finish_step> steps;
    steps.push_back(on(step(logged("first")), "t1", false));
    // Built only while the next step runs beside it (a serial finisher gives up after 20 s).
    // The server keeps one picture of the other sessions for a whole transaction: clear it on
    // every turn, or a step started after the first look is never seen.
    steps.push_back(on(step("DO $$ BEGIN FOR i IN 1..2000 LOOP PERFORM pg_stat_clear_snapshot(); "
                            "IF EXISTS (SELECT 1 FROM pg_stat_activity WHERE pid <> pg_backend_pid() AND query LIKE "
                            "'%' || 'beside' || '_me%') THEN " +
                            logged("a") + " RETURN; END IF; PERFORM pg_sleep(0.01); END LOOP; "
                            "RAISE 'ran alone'; END $$"),
                       "t1", true));
    // Runs until the step before it has seen it (or 20 s passed), however late that one starts.
    steps.push_back(on(step("DO $$ BEGIN FOR i IN 1..2000 LOOP EXIT WHEN EXISTS (SELECT 1 FROM fin_log WHERE step = "
                            "'a'); PERFORM pg_sleep(0.01); END LOOP; " +
                            logged("b") + " END $$ /* beside_me */"),
                       "t1", true));
    steps.push_back(on(step(logged("last")), "t1", false));
    steps.push_back(on(step(logged("other table")), "t2", true));
    // A primary key made of its unique index: when the index fails, the key is not tried.
    pgs_finish_step pk = on(step("CREATE UNIQUE INDEX fin_d_pk ON fin_d (id)"), "fin_d", true);
    pk.what = L"Primary key 'fin_d_pk' of table 'fin_d'";
    pgs_finish_step attach = on(pk, "fin_d", false);
    attach.sql = "ALTER TABLE fin_d ADD CONSTRAINT fin_d_pk PRIMARY KEY USING INDEX fin_d_pk";
    attach.completes_earlier = true;
    steps.push_back(pk);
    steps.push_back(attach);
    finisher->submit(std::move(steps));
    const auto failures = finisher->wait();

    ASSERT_EQ(failures.size(), 1u) << failures[0].failure.text;
    EXPECT_EQ(failures[0].failure.statement, "CREATE UNIQUE INDEX fin_d_pk ON fin_d (id)");
    EXPECT_EQ(failures[0].failure.sqlstate, "23505");
    const auto order = sql("SELECT step FROM fin_log WHERE step <> 'other table' ORDER BY at");
    ASSERT_EQ(order.size(), 4u);
    EXPECT_EQ(order.front(), "first");
    EXPECT_EQ(order.back(), "last");
    EXPECT_EQ(sql1("SELECT count(*) FROM fin_log WHERE step = 'other table'"), "1");
}

TEST_F(table_finisher_test, a_key_waits_for_the_steps_of_both_its_tables_and_one_already_there_is_kept)
{
    sql("DROP TABLE IF EXISTS fin_log, fin_kid, fin_par; DROP SEQUENCE IF EXISTS fin_seq;"
        "CREATE TABLE fin_log (step text, at bigint); CREATE SEQUENCE fin_seq;"
        "CREATE TABLE fin_par (id int PRIMARY KEY); CREATE TABLE fin_kid (id int, par int);"
        "INSERT INTO fin_par VALUES (1); INSERT INTO fin_kid VALUES (1, 1), (2, 9)");
    auto finisher = std::make_unique<pgs_table_finisher>(
        std::make_unique<pgs_connection>(engine().connection()->conninfo() + " dbname=" + s_db_name), 3);
    auto logged = [](const std::string& name) {
        return "INSERT INTO fin_log VALUES ('" + name + "', nextval('fin_seq'));";
    };
    auto key = [&](const std::string& name, const std::string& sql) {
        pgs_finish_step s = step(logged(name) + sql, "", L"fin_kid");
        s.target = "fin_kid";
        s.more_targets = {"fin_par", "(keys)"};
        s.kind = udb_failure_kind::foreign_key;
        s.what = L"Foreign key '" + tk_utf8_to_unicode(name) + L"'";
        s.exists_sqlstate = "42710";
        s.returnable = true;
        return s;
    };
    const std::string add = "ALTER TABLE fin_kid ADD CONSTRAINT fin_kid_par FOREIGN KEY (par) REFERENCES fin_par (id)";
    std::vector<pgs_finish_step> steps;
    // The referenced table's slow step, given first, on another connection.
    steps.push_back(step("SELECT pg_sleep(0.3); " + logged("par"), "", L"fin_par"));
    steps.push_back(key("refused", add));  // a row of fin_kid refers to no row
    steps.push_back(step(logged("kid cleaned") + "DELETE FROM fin_kid WHERE par = 9", "", L"fin_kid"));
    steps.push_back(key("made", add));
    steps.push_back(key("there already", add));
    finisher->submit(std::move(steps));
    const auto failures = finisher->wait();

    // A refused step's own line goes with its transaction; that the refusal came before the
    // cleaning, the key after it, shows in the failure below.
    EXPECT_EQ(sql("SELECT step FROM fin_log ORDER BY at"), (std::vector<std::string>{"par", "kid cleaned", "made"}));
    // The refusal is a failure as any other (not handed back); the key already there is none.
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].failure.object, L"Foreign key 'refused'");
    EXPECT_EQ(failures[0].failure.kind, udb_failure_kind::foreign_key);
    EXPECT_EQ(failures[0].failure.sqlstate, "23503");
    EXPECT_FALSE(failures[0].returned);
    EXPECT_EQ(sql1("SELECT count(*) FROM pg_constraint WHERE conname = 'fin_kid_par'"), "1");

    // Settled: every step of the table run, none failed; a key naming a table among its
    // more_targets does not hold that table back.
    EXPECT_TRUE(finisher->settled("fin_par"));
    EXPECT_FALSE(finisher->settled("fin_kid")) << "its refused key";
    EXPECT_TRUE(finisher->settled("fin_other"));
    std::vector<pgs_finish_step> slow;
    slow.push_back(key("slow", "SELECT pg_sleep(0.3)"));
    slow.back().target = "fin_third";
    finisher->submit(std::move(slow));
    EXPECT_FALSE(finisher->settled("fin_third"));
    EXPECT_TRUE(finisher->settled("fin_par"));
    EXPECT_TRUE(finisher->wait().empty());
    EXPECT_TRUE(finisher->settled("fin_third"));
}

TEST_F(table_finisher_test, a_returnable_step_is_handed_back_when_its_session_ends_or_the_run_drops_it)
{
    sql("DROP TABLE IF EXISTS fin_never");
    auto finisher = make();
    auto returnable = [](const std::string& sql, const std::string& target) {
        pgs_finish_step s = step(sql, "", tk_utf8_to_unicode(target));
        s.target = target;
        s.returnable = true;
        return s;
    };
    std::vector<pgs_finish_step> steps;
    steps.push_back(returnable("SELECT pg_terminate_backend(pg_backend_pid())", "fin_t"));
    finisher->submit(std::move(steps));
    auto back = finisher->wait();
    steps.clear();
    steps.push_back(step("SELECT pg_sleep(0.5)", "", L"fin_u"));  // holds the one connection
    steps.push_back(returnable("CREATE TABLE fin_never (id int)", "fin_v"));
    finisher->submit(std::move(steps));
    finisher->drop_returnable();  // fin_never is still waiting for the connection
    for (auto& f : finisher->wait()) back.push_back(std::move(f));

    ASSERT_EQ(back.size(), 2u);
    for (const auto& f : back) EXPECT_TRUE(f.returned) << tk_unicode_to_utf8(f.failure.table);
    // The step whose session ended, then the one never started.
    EXPECT_EQ(back[0].failure.table, L"fin_t");
    EXPECT_TRUE(back[0].lost);
    EXPECT_EQ(back[1].failure.table, L"fin_v");
    EXPECT_FALSE(back[1].lost);
    EXPECT_EQ(sql1("SELECT count(*) FROM pg_class WHERE relname = 'fin_never'"), "0");
    // Handed back is not failed: the tables stay settled.
    EXPECT_TRUE(finisher->settled("fin_t"));
    EXPECT_TRUE(finisher->settled("fin_v"));
}

}  // namespace
