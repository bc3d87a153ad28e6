// A run ended half way leaves a table with some of its rows and none of its keys (a table the
// run makes gets its keys after its rows); a rerun with --mode=3 completes it: every row once,
// the primary key, the index, the child's foreign key and the view, as an uninterrupted run.
// The runs are held at a chosen point by a lock a session of the test takes, so the session is
// ended exactly where the test means, however fast the machine is.
#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "console_test_support.h"

namespace {

using namespace console_test;
using strings = std::vector<std::string>;

// A session of its own holding ACCESS SHARE on big (taken on a thread: it may have to wait)
// until it is destroyed.
class table_lock {
public:
    explicit table_lock(const std::string& database)
        : m_thread([this, info = test_env::pg_conninfo(database)] {
              try {
                  pqxx::connection c(info);
                  m_pid = c.backendpid();
                  pqxx::work t(c);
                  t.exec("LOCK TABLE big IN ACCESS SHARE MODE");
                  while (!m_release)
                      std::this_thread::sleep_for(std::chrono::milliseconds(2));
                  t.commit();
              } catch (const std::exception&) {
                  m_pid = -1;
              }
          })
    {
        while (m_pid == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~table_lock()
    {
        m_release = true;
        m_thread.join();
    }
    int pid() const { return m_pid; }

private:
    std::atomic<int> m_pid{0};
    std::atomic<bool> m_release{false};
    std::thread m_thread;
};

constexpr int big_rows = 200000;

class rerun_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        // d: a zero-date default, so the table is made without NOT NULL there and gets it after its rows.
        src.exec("CREATE TABLE big (id INT PRIMARY KEY, k INT NOT NULL, pad VARCHAR(20),"
                 " d DATE NOT NULL DEFAULT '0000-00-00', KEY ka (k)) ENGINE=InnoDB;"
                 "INSERT INTO big SELECT seq, seq % 1000, CONCAT('r', seq), '2020-01-01' + INTERVAL seq % 400 DAY"
                 " FROM seq_1_to_" +
                 std::to_string(big_rows) +
                 ";"
                 "CREATE TABLE child (id INT PRIMARY KEY, big_id INT NOT NULL,"
                 " CONSTRAINT child_big FOREIGN KEY (big_id) REFERENCES big (id)) ENGINE=InnoDB;"
                 "INSERT INTO child SELECT seq, seq * 7 FROM seq_1_to_500;"
                 "CREATE VIEW big7 AS SELECT id, pad FROM big WHERE k = 7;");
    }

    strings run_args(int mode, const pg_destination* into = nullptr) const
    {
        return connection_options() + strings{"--src=" + src.name(), "--dest=" + (into ? into : &dst)->name(),
                                              "--views", "--fast_insert", "--mode=" + std::to_string(mode)};
    }

    // A session of the test's own on the destination, outside the run's.
    std::unique_ptr<pqxx::connection> session() const
    {
        return std::make_unique<pqxx::connection>(test_env::pg_conninfo(dst.name()));
    }

    // Ends every backend of the destination but the test's own session; how many were ended.
    static int end_backends(pqxx::transaction_base& own, const std::string& where)
    {
        return own.exec("SELECT count(*) FILTER (WHERE pg_terminate_backend(pid)) FROM pg_stat_activity"
                        " WHERE datname = current_database() AND pid <> pg_backend_pid()" + where)[0][0]
            .as<int>();
    }

    // The destination holds what the source holds: each row once, keys, index, foreign key, view.
    void expect_destination_equals_source()
    {
        src.exec("SET SESSION group_concat_max_len = 1073741824");
        const std::string source_rows =
            src.value("SELECT CONCAT(COUNT(*), ' ', MD5(GROUP_CONCAT(CONCAT(id, ':', k, ':', pad, ':', d) ORDER BY id "
                      "SEPARATOR ','))) FROM big");
        EXPECT_EQ(dst.value("SELECT count(*) || ' ' ||"
                            " md5(string_agg(id || ':' || k || ':' || pad || ':' || d, ',' ORDER BY id)) FROM big"),
                  source_rows);
        EXPECT_EQ(dst.value("SELECT count(*) || ' ' || sum(big_id) FROM child"),
                  src.value("SELECT CONCAT(COUNT(*), ' ', SUM(big_id)) FROM child"));
        EXPECT_EQ(dst.rows("SELECT attname FROM pg_attribute WHERE attrelid = 'big'::regclass AND attnum > 0"
                           " AND attnotnull ORDER BY attnum"),
                  (strings{"id", "k", "d"}));
        EXPECT_EQ(dst.rows("SELECT pg_get_constraintdef(oid) FROM pg_constraint WHERE contype = 'p'"
                           " AND conrelid IN ('big'::regclass, 'child'::regclass) ORDER BY conrelid::regclass::text"),
                  (strings{"PRIMARY KEY (id)", "PRIMARY KEY (id)"}));
        // The index on k and the key's index on id, once each: compared by column, not by name.
        EXPECT_EQ(dst.value("SELECT string_agg(a.attname, ' ' ORDER BY a.attname) FROM pg_index x"
                            " JOIN pg_attribute a ON a.attrelid = x.indrelid AND a.attnum = x.indkey[0]"
                            " WHERE x.indrelid = 'big'::regclass AND x.indnkeyatts = 1"
                            " AND x.indisunique = (a.attname = 'id')"),
                  "id k");
        EXPECT_EQ(dst.rows("SELECT pg_get_constraintdef(oid) FROM pg_constraint WHERE contype = 'f'"
                           " AND conrelid = 'child'::regclass"),
                  (strings{"FOREIGN KEY (big_id) REFERENCES big(id)"}));
        EXPECT_EQ(dst.value("SELECT count(*) || ' ' || sum(id) FROM big7"),
                  src.value("SELECT CONCAT(COUNT(*), ' ', SUM(id)) FROM big7"));
    }

    mysql_source src;
    pg_destination dst;
    scratch dir;
};

TEST_F(rerun_test, every_backend_ended_mid_table_then_a_merge_completes_the_data)
{
    background_run first(run_args(0), dir.path());
    // Rows of big are committed; the test's SHARE lock then holds the next batch back, so the
    // backends are ended in the middle of the table.
    std::unique_ptr<pqxx::connection> own;
    ASSERT_TRUE(wait_for([&] {
        try {
            own = session();
            pqxx::nontransaction t(*own);
            return t.exec("SELECT count(*) FROM big")[0][0].as<long>() > 0;
        } catch (const std::exception&) {
            return !first.running();
        }
    }));
    ASSERT_TRUE(first.running());
    // The server refuses new sessions as a server going down does: the writers cannot log in
    // again and send their batches once more, so the run ends in the middle of the table.
    pqxx::connection admin(test_env::pg_conninfo("postgres"));
    const auto allow_logins = [&](bool allow) {
        pqxx::nontransaction(admin).exec("ALTER DATABASE " + admin.quote_name(dst.name()) +
                                         " WITH ALLOW_CONNECTIONS " + (allow ? "true" : "false"));
    };
    {
        pqxx::work lock(*own);
        lock.exec("LOCK TABLE big IN SHARE MODE");
        const long committed = lock.exec("SELECT count(*) FROM big")[0][0].as<long>();
        ASSERT_LT(committed, big_rows);
        allow_logins(false);
        ASSERT_GT(end_backends(lock, ""), 0);
        lock.commit();
    }
    const run_result ended = first.wait();
    allow_logins(true);
    ASSERT_EQ(ended.status, 255) << ended.err;
    ASSERT_LT(std::stol(dst.value("SELECT count(*) FROM big")), big_rows);
    EXPECT_EQ(dst.value("SELECT count(*) FROM pg_index WHERE indrelid = 'big'::regclass"), "0");

    const run_result rerun = run_quindrel(run_args(3));
    EXPECT_EQ(rerun.status, 0) << rerun.out << rerun.err;
    EXPECT_EQ(rerun.err, "");
    expect_destination_equals_source();

    // A further merge finds everything in place: nothing added, nothing appended.
    const run_result again = run_quindrel(run_args(3));
    EXPECT_EQ(again.status, 0) << again.out << again.err;
    EXPECT_EQ(again.out.find("Keys of the source added"), std::string::npos) << again.out;
    expect_destination_equals_source();
}

TEST_F(rerun_test, key_builder_ended_then_a_merge_builds_the_keys)
{
    background_run first(run_args(0), dir.path());
    ASSERT_TRUE(wait_for([&] {
        try {
            return !dst.rows("SELECT 1 FROM pg_class WHERE relname = 'big' AND relkind = 'r'").empty();
        } catch (const std::exception&) {
            return !first.running();
        }
    }));
    ASSERT_TRUE(first.running());
    // An ACCESS SHARE lock lets the rows in but holds back each statement that finishes the table
    // after its rows. Such a statement that is not the primary key's is let through while a
    // second lock queues behind it, which then holds the next one; the primary key's ALTER
    // TABLE is ended while it waits to build the key.
    const std::string waiting = "SELECT pid, query FROM pg_stat_activity WHERE datname = current_database()"
                                " AND wait_event_type = 'Lock' AND query LIKE 'ALTER TABLE%'";
    auto holder = std::make_unique<table_lock>(dst.name());
    for (;;) {
        std::vector<std::string> step;
        ASSERT_TRUE(wait_for([&] {
            step = dst.rows(waiting);
            return step.size() == 1 || !first.running();
        }));
        ASSERT_EQ(step.size(), 1u);
        const std::string pid = step[0].substr(0, step[0].find('|'));
        if (step[0].find("PRIMARY KEY") != std::string::npos) {
            EXPECT_EQ(dst.value("SELECT pg_terminate_backend(" + pid + ")"), "t");
            break;
        }
        auto next = std::make_unique<table_lock>(dst.name());
        ASSERT_TRUE(wait_for([&] {
            return dst.value("SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock' AND pid = " +
                             std::to_string(next->pid())) == "1";
        }));
        holder = std::move(next);  // the first lock goes, the statement runs, the second holds
    }
    holder.reset();
    const run_result ended = first.wait();
    // How the run tells the lost key is its own matter; here only its table is looked at.
    EXPECT_NE(ended.status, -1) << ended.err;
    EXPECT_EQ(dst.value("SELECT count(*) FROM pg_constraint WHERE contype = 'p' AND conrelid = 'big'::regclass"),
              "0");

    const run_result rerun = run_quindrel(run_args(3));
    EXPECT_EQ(rerun.status, 0) << rerun.out << rerun.err;
    EXPECT_NE(rerun.out.find("Keys of the source added to table 'public.big' before its rows were merged: 1"),
              std::string::npos)
        << rerun.out;
    expect_destination_equals_source();
}

TEST_F(rerun_test, a_key_the_rows_there_do_not_allow_fails_the_table_and_appends_nothing)
{
    // A table an ended run left, with a row twice (nothing kept them apart).
    dst.create();
    dst.exec("CREATE TABLE big (id integer NOT NULL, k integer NOT NULL, pad varchar(20), d date);"
             "INSERT INTO big VALUES (1, 1, 'r1', '2020-01-02'), (1, 1, 'r1', '2020-01-02'),"
             " (2, 2, 'r2', '2020-01-03')");
    const run_result r = run_quindrel(run_args(3));
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("Primary key 'PRIMARY' of table 'public.big' is missing and could not be added, so no rows "
                         "were merged: "),
              std::string::npos)
        << r.err;
    // That one report for the table; the child's key to it and the view that reads it follow.
    EXPECT_NE(r.err.find("0 rows, 1 tables, 0 indexes, 1 foreign keys and 1 views were not converted"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(dst.value("SELECT count(*) FROM big"), "3");
    EXPECT_EQ(dst.value("SELECT count(*) FROM pg_index WHERE indrelid = 'big'::regclass"), "0");
    // The child is converted all the same; its key to big cannot be made and is reported.
    EXPECT_EQ(dst.value("SELECT count(*) FROM child"), "500");
}

// A table made otherwise: its keys are compared with the source's by their columns.
TEST_F(rerun_test, keys_of_a_table_made_otherwise_are_compared_by_columns)
{
    struct merge_case {
        const char* name;
        const char* table;      // the destination's big, with the row id 1 as it holds it
        int status;
        const char* reported;   // in the error stream; "" for nothing
        const char* added;      // the progress line of the keys added; "" for none
        const char* keys;       // the destination's indexes of big afterwards (columns, unique)
        const char* primary;    // the column of big's primary key afterwards
    };
    const merge_case cases[] = {
        {"every key there under other names",
         "CREATE TABLE big (id integer NOT NULL, k integer NOT NULL, pad varchar(20), d date,"
         " CONSTRAINT mine PRIMARY KEY (id)); CREATE INDEX by_k ON big (k);"
         "INSERT INTO big VALUES (1, 1, 'r1', '2020-01-02')",
         0, "", "", "id t|k f", "id"},
        {"the key's unique index, left without its key by an ended run, becomes the key",
         "CREATE TABLE big (id integer NOT NULL, k integer NOT NULL, pad varchar(20), d date);"
         "CREATE UNIQUE INDEX \"primary\" ON big (id); CREATE INDEX by_k ON big (k);"
         "INSERT INTO big VALUES (1, 1, 'r1', '2020-01-02')",
         0, "", "before its rows were merged: 1", "id t|k f", "id"},
        {"a primary key on other columns: rows are found by the source's, added as a unique index",
         "CREATE TABLE big (id integer NOT NULL, k integer NOT NULL, pad varchar(20) PRIMARY KEY, d date);"
         "INSERT INTO big VALUES (1, 1, 'other', '2020-01-02')",
         0, "", "before its rows were merged: 1",
         "id t|k f|pad t", "pad"},
    };
    for (const merge_case& c : cases) {
        SCOPED_TRACE(c.name);
        pg_destination db;
        db.create();
        db.exec(c.table);
        const run_result r = run_quindrel(run_args(3, &db));
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        if (*c.reported)
            EXPECT_NE(r.err.find(c.reported), std::string::npos) << r.err;
        else
            EXPECT_EQ(r.err, "");
        if (*c.added)
            EXPECT_NE(r.out.find(c.added), std::string::npos) << r.out;
        else
            EXPECT_EQ(r.out.find("Keys of the source added"), std::string::npos) << r.out;
        EXPECT_EQ(db.value("SELECT string_agg(a.attname || ' ' || CASE WHEN x.indisunique THEN 't' ELSE 'f' END, '|'"
                           " ORDER BY a.attname) FROM pg_index x JOIN pg_attribute a ON a.attrelid = x.indrelid"
                           " AND a.attnum = x.indkey[0] WHERE x.indrelid = 'big'::regclass"),
                  c.keys);
        EXPECT_EQ(db.value("SELECT pg_get_constraintdef(oid) FROM pg_constraint WHERE contype = 'p'"
                           " AND conrelid = 'big'::regclass"),
                  "PRIMARY KEY (" + std::string(c.primary) + ")");
        // Each id once: the row already there stays as it was.
        EXPECT_EQ(db.value("SELECT count(*) || ' ' || count(DISTINCT id) FROM big"),
                  std::to_string(big_rows) + " " + std::to_string(big_rows));
    }
}

}  // namespace
