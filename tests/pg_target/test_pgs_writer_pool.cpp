// The writer pool stores a keyless table's batches on connections of its own. A row the
// server refuses is reported alone, with its record number, whichever batch it was in; a
// writer whose session is ended sends its batch again on a new connection, and when that
// cannot be opened the loss is handed to the owner with the rows not stored: a broken
// connection never makes a good row refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "pg_target/pgs_writer_pool.h"
#include "pgs_live_fixture.h"

namespace {

constexpr int batch_rows = 1000;
constexpr int total_rows = 3500;  // three full batches and a part
constexpr int slow_row = 1500;    // its insert sleeps: the writer that has it is caught in COPY

enum class ending { none, once, for_good };

struct pool_case {
    const char* name;
    std::vector<int> refused;  // records whose value the table's CHECK refuses
    ending ended;              // the writer sessions ended while the slow row is on its way
};

void PrintTo(const pool_case& c, std::ostream* os)
{
    *os << c.name;
}

class writer_pool_test : public pgs_live_suite, public ::testing::WithParamInterface<pool_case> {
protected:
    static void SetUpTestSuite()
    {
        pgs_live_suite::SetUpTestSuite();
        s_role = test_env::unique_name("pool_writer");
        sql("CREATE ROLE " + s_role + " LOGIN PASSWORD 'pw'");
    }
    static void TearDownTestSuite()
    {
        sql("DROP OWNED BY " + s_role);
        sql("DROP ROLE " + s_role);
        pgs_live_suite::TearDownTestSuite();
    }
    // The writers log in as a role of their own, with a name of their own, so
    // their sessions can be found and their logins refused.
    static std::string writer_conninfo()
    {
        return test_env::pg_conninfo(s_db_name) + " user=" + s_role + " password=pw application_name=" + s_role;
    }
    inline static std::string s_role;
};

pgs_row_batch batch_of(const std::string& table, int first, int last, const std::vector<int>& refused)
{
    pgs_row_batch b;
    b.table_sql = table;
    for (int r = first; r <= last; ++r) {
        const bool bad = std::find(refused.begin(), refused.end(), r) != refused.end();
        b.text += std::to_string(r) + '\t' + (bad ? "-1" : std::to_string(r)) + '\n';
        b.end_row(static_cast<std::uint64_t>(r));
    }
    return b;
}

TEST_P(writer_pool_test, refused_rows_alone_and_a_broken_connection_never_refuses)
{
    const pool_case& c = GetParam();
    const std::string table = test_env::unique_name("pool_t");
    sql("CREATE TABLE " + table + " (id int, v int CHECK (v >= 0));"
        "CREATE FUNCTION " + table + "_slow() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
        "IF NEW.id = " + std::to_string(slow_row) + " THEN PERFORM pg_sleep(3); END IF; RETURN NEW; END $$;"
        "CREATE TRIGGER slow BEFORE INSERT ON " + table + " FOR EACH ROW EXECUTE FUNCTION " + table + "_slow();"
        "GRANT INSERT ON " + table + " TO " + s_role + ";"
        "ALTER ROLE " + s_role + " LOGIN");

    pgs_writer_pool pool(writer_conninfo(), 3);
    ASSERT_EQ(pool.size(), 3u);
    const int owner = 0;
    std::thread ender;
    if (c.ended != ending::none) {
        // Once the slow row's COPY is running and every other batch is committed, every
        // writer session is ended (busy or idle); for good when their role may not log in any
        // more. Waiting for the other batches keeps a COMMIT from being caught half way (a
        // batch in doubt is a case of its own).
        const auto in_slow_batch = [](int r) { return (r - 1) / batch_rows == (slow_row - 1) / batch_rows; };
        const long others = total_rows - batch_rows -
                            static_cast<long>(std::count_if(c.refused.begin(), c.refused.end(),
                                                            [&](int r) { return !in_slow_batch(r); }));
        ender = std::thread([&, others] {
            const std::string caught = "SELECT count(*) FROM pg_stat_activity WHERE application_name = '" + s_role +
                                       "' AND wait_event = 'PgSleep'";
            const std::string others_in = "SELECT count(*) >= " + std::to_string(others) + " FROM " + table;
            for (int i = 0; i < 1000 && (sql1(caught) == "0" || sql1(others_in) != "t"); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (c.ended == ending::for_good) sql("ALTER ROLE " + s_role + " NOLOGIN");
            sql("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = '" + s_role + "'");
        });
    }
    for (int first = 1; first <= total_rows; first += batch_rows)
        pool.submit(&owner, batch_of(table, first, std::min(first + batch_rows - 1, total_rows), c.refused));
    const pgs_writer_pool::news news = pool.wait(&owner);
    if (ender.joinable()) ender.join();

    const int stored = std::stoi(sql1("SELECT count(*) FROM " + table));
    // No row stored twice, none refused but the refused ones.
    EXPECT_EQ(sql1("SELECT count(*) - count(DISTINCT id) FROM " + table), "0");
    EXPECT_EQ(sql1("SELECT count(*) FROM " + table + " WHERE v < 0"), "0");
    std::vector<std::uint64_t> refused;
    for (const pgs_rejected_row& r : news.rejected) {
        refused.push_back(r.record_number);
        EXPECT_EQ(r.sqlstate, "23514") << r.message;
        EXPECT_NE(r.message.find("check constraint"), std::string::npos) << r.message;
    }
    if (c.ended == ending::for_good) {
        // The batch caught and every one after it: not stored, counted, handed on.
        EXPECT_FALSE(news.lost.empty());
        EXPECT_FALSE(pool.lost().empty());
        EXPECT_GT(news.rows_lost, 0u);
        EXPECT_EQ(std::uint64_t(stored) + refused.size() + news.rows_lost, std::uint64_t(total_rows));
        EXPECT_EQ(sql1("SELECT count(*) FROM " + table + " WHERE id = " + std::to_string(slow_row)), "0");
        // The pool sends nothing more, and says so to every owner.
        const int other = 0;
        pool.submit(&other, batch_of(table, 1, 10, {}));
        const pgs_writer_pool::news later = pool.wait(&other);
        EXPECT_EQ(later.rows_lost, 10u);
        EXPECT_FALSE(later.lost.empty());
        EXPECT_EQ(sql1("SELECT count(*) FROM " + table), std::to_string(stored));
        return;
    }
    EXPECT_TRUE(news.lost.empty()) << news.lost;
    EXPECT_EQ(news.rows_lost, 0u);
    EXPECT_EQ(refused, std::vector<std::uint64_t>(c.refused.begin(), c.refused.end()));
    EXPECT_EQ(stored, total_rows - int(c.refused.size()));
    // Every good row once, with its own value.
    EXPECT_EQ(sql1("SELECT count(*) FROM " + table + " WHERE v <> id"), "0");
}

INSTANTIATE_TEST_SUITE_P(
    cases, writer_pool_test,
    ::testing::Values(pool_case{"refused_rows_in_three_batches", {5, 1200, 1201, 2999, 3500}, ending::none},
                      pool_case{"sessions_ended_mid_copy_the_batch_sent_again", {7, 3001}, ending::once},
                      pool_case{"sessions_ended_and_logins_refused_the_loss_handed_on", {7}, ending::for_good}),
    [](const ::testing::TestParamInfo<pool_case>& i) { return std::string(i.param.name); });

}  // namespace
