// A server that goes away in the middle of a run: the console program ends at once with one
// message that names the server, the table and the rows kept, exit status 255. The servers
// stopped here are a throwaway pair of this test's own, so the suite's servers stay up.
//
// However fast the machine, the server goes while the run is in its table: the run is
// paused (SIGSTOP) as soon as its rows are seen arriving, the server is ended, and only
// then does the run go on.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <pqxx/pqxx>

#include "console_test_support.h"

namespace {

using namespace console_test;
using strings = std::vector<std::string>;

std::string shell_output(const std::string& command)
{
    std::string out;
    std::unique_ptr<FILE, decltype(&pclose)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe)
        throw std::runtime_error("cannot run " + command);
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe.get()))
        out += buffer;
    return out;
}

int pid_in(const std::string& file)
{
    std::ifstream in(file);
    int pid = 0;
    in >> pid;
    return pid;
}

// Whether the process still runs (a zombie left for its parent to reap does not).
bool process_alive(int pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (pid <= 0 || !std::getline(in, stat))
        return false;
    const std::size_t end = stat.rfind(") ");
    return end != std::string::npos && end + 2 < stat.size() && stat[end + 2] != 'Z';
}

std::size_t count_of(const std::string& text, const std::string& part)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
}

class lost_server_test : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        const std::string script = std::string(QUINDREL_SOURCE_DIR) + "/scripts/test_servers.sh";
        // Several of these suites start servers at once on a busy machine: a start that
        // fails (a port taken between its choice and its use) is tried again in a new folder.
        bool started = false;
        for (int attempt = 0; attempt < 3 && !started; ++attempt) {
            char folder[] = "/tmp/qc_lost_XXXXXX";
            ASSERT_NE(mkdtemp(folder), nullptr);
            if (!s_dir.empty()) {
                (void)std::system((script + " stop " + s_dir + " >/dev/null 2>&1").c_str());
                std::error_code ec;
                std::filesystem::remove_all(s_dir, ec);
                std::filesystem::remove(s_dir + ".log", ec);
            }
            s_dir = folder;
            started = std::system((script + " start " + s_dir + " >" + s_dir + ".log 2>&1").c_str()) == 0;
        }
        ASSERT_TRUE(started) << read_file(s_dir + ".log");
        const std::string ports =
            shell_output("bash -c '. " + s_dir + "/env && echo $TEST_MYSQL_PORT $TEST_PG_PORT'");
        std::sscanf(ports.c_str(), "%d %d", &s_my_port, &s_pg_port);
    }
    static void TearDownTestSuite()
    {
        const std::string script = std::string(QUINDREL_SOURCE_DIR) + "/scripts/test_servers.sh";
        (void)std::system((script + " stop " + s_dir + " >/dev/null 2>&1").c_str());
        std::error_code ec;
        std::filesystem::remove_all(s_dir, ec);
        std::filesystem::remove(s_dir + ".log", ec);
    }

    // Connection options with one side pointing at the throwaway server.
    static strings options(bool own_mysql, bool own_pg)
    {
        strings args = connection_options();
        if (own_mysql)
            args[1] = "--myport=" + std::to_string(s_my_port);
        if (own_pg)
            args[5] = "--pgport=" + std::to_string(s_pg_port);
        return args;
    }
    static std::string own_pg_conninfo(const std::string& db)
    {
        std::string info = test_env::pg_conninfo(db);
        return info.replace(info.find("port=" + std::to_string(test_env::pg().port)),
                            5 + std::to_string(test_env::pg().port).size(), "port=" + std::to_string(s_pg_port));
    }

    static inline std::string s_dir;
    static inline int s_my_port = 0;
    static inline int s_pg_port = 0;
};

std::string big_table(int rows)
{
    return "CREATE TABLE big (id INT PRIMARY KEY, pad VARCHAR(40));"
           "INSERT INTO big SELECT seq, CONCAT('row ', seq) FROM seq_1_to_" + std::to_string(rows) + ";";
}

TEST_F(lost_server_test, postgresql_stopped_mid_table_ends_the_run_with_one_message)
{
    mysql_source src;
    src.exec(big_table(300000));
    const std::string db = test_env::unique_name("qclost");
    scratch dir;
    background_run run(options(false, true) + strings{"--src=" + src.name(), "--dest=" + db}, dir.path());
    // Rows are arriving: stop the server under the run (fast shutdown ends every session).
    ASSERT_TRUE(wait_for([&] {
        try {
            pqxx::connection c(own_pg_conninfo(db));
            pqxx::nontransaction t(c);
            return t.exec("SELECT count(*) FROM big")[0][0].as<long>() > 1000;
        } catch (const std::exception&) {
            return !run.running();
        }
    }));
    run.pause();
    ASSERT_TRUE(run.running()) << "the run ended before its server";
    const int postmaster = pid_in(s_dir + "/pg/data/postmaster.pid");
    ASSERT_EQ(kill(postmaster, SIGINT), 0);
    ASSERT_TRUE(wait_for([&] { return !process_alive(postmaster); }));
    run.resume();
    const run_result r = run.wait();
    EXPECT_EQ(r.status, 255) << r.err;
    EXPECT_EQ(count_of(r.err, "Error:"), 1u) << r.err;
    EXPECT_NE(r.err.find("Lost the connection to the PostgreSQL server while converting table 'big': "),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(" of its rows were committed. The conversion was ended."), std::string::npos) << r.err;
    EXPECT_LT(r.out.size() + r.err.size(), 2000u);
}

TEST_F(lost_server_test, mysql_killed_mid_table_keeps_the_committed_rows_and_an_earlier_script)
{
    // The source on the throwaway server.
    const std::string source = test_env::unique_name("qclostsrc");
    const std::string create = "mariadb --no-defaults -h127.0.0.1 -P" + std::to_string(s_my_port) +
                               " -uroot -p\"$TEST_MYSQL_PASSWORD\" -e \"CREATE DATABASE " + source + "; USE " + source +
                               "; " + big_table(1000000) + "\"";
    ASSERT_EQ(std::system(create.c_str()), 0);

    pg_destination dst;
    scratch live_dir, dump_dir;
    const std::string script = dump_dir.write("out.sql", "earlier script\n");
    background_run live(options(true, false) + strings{"--src=" + source, "--dest=" + dst.name(), "--fast_insert"},
                        live_dir.path());
    // Rows committed on the live side, then the new script growing beside the old one.
    ASSERT_TRUE(wait_for([&] {
        try {
            return std::stol(dst.value("SELECT count(*) FROM big")) >= 1000 || !live.running();
        } catch (const std::exception&) {
            return !live.running();
        }
    }));
    live.pause();
    ASSERT_TRUE(live.running()) << "the live run ended before its server";
    strings mysql_only = options(true, false);
    mysql_only.resize(4);
    background_run dump(mysql_only + strings{"--src=" + source, "--dest=" + script, "--dump"}, dump_dir.path());
    ASSERT_TRUE(wait_for([&] {
        for (const auto& entry : std::filesystem::directory_iterator(dump_dir.path()))
            if (entry.path().filename().string().starts_with("out.sql.tmp") && entry.file_size() > 100000)
                return true;
        return !dump.running();
    }));
    dump.pause();
    ASSERT_TRUE(dump.running()) << "the script was written before its server went";
    const int mysqld = pid_in(s_dir + "/my/pid");
    ASSERT_EQ(kill(mysqld, SIGKILL), 0);
    ASSERT_TRUE(wait_for([&] { return !process_alive(mysqld); }));
    live.resume();
    dump.resume();

    const run_result l = live.wait();
    EXPECT_EQ(l.status, 255) << l.err;
    EXPECT_EQ(count_of(l.err, "Error:"), 1u) << l.err;
    const std::string head = "Lost the connection to the MySQL server while converting table 'big': ";
    const std::size_t at = l.err.find(head);
    ASSERT_NE(at, std::string::npos) << l.err;
    // The message's count is what the destination holds, and a later run in mode 3 can complete it.
    const std::string committed = l.err.substr(at + head.size(), l.err.find(' ', at + head.size()) - at - head.size());
    EXPECT_EQ(committed, dst.value("SELECT count(*) FROM big")) << l.err;
    EXPECT_NE(committed, "1000000");

    const run_result d = dump.wait();
    EXPECT_EQ(d.status, 255) << d.err.substr(0, 2000);
    EXPECT_NE(d.err.find(head), std::string::npos) << d.err;
    EXPECT_NE(d.err.find("The script file was not written."), std::string::npos) << d.err;
    const std::string kept = read_file(script);
    EXPECT_TRUE(kept == "earlier script\n") << kept.size() << " bytes";
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(dump_dir.path()))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (strings{"out.sql", "run.err", "run.out"}));
}

// The statement a session of the destination is waiting in for a lock, as pg_stat_activity
// shows it: its backend's pid, or 0 while there is none.
int waiting_in(const std::string& conninfo, const std::string& like)
{
    pqxx::connection c(conninfo);
    pqxx::nontransaction t(c);
    const auto r = t.exec("SELECT pid FROM pg_stat_activity WHERE wait_event_type = 'Lock' AND query LIKE " +
                          t.quote(like) + " LIMIT 1");
    return r.empty() ? 0 : r[0][0].as<int>();
}

TEST_F(lost_server_test, server_lost_while_foreign_keys_are_made_ends_the_run)
{
    mysql_source src;
    src.exec("CREATE TABLE p (id INT PRIMARY KEY);"
             "CREATE TABLE c (id INT PRIMARY KEY, pid INT, CONSTRAINT c_p FOREIGN KEY (pid) REFERENCES p (id));"
             "INSERT INTO p SELECT seq FROM seq_1_to_100; INSERT INTO c SELECT seq, seq FROM seq_1_to_100;");
    const std::string db = test_env::unique_name("qclostfk");
    if (!process_alive(pid_in(s_dir + "/pg/data/postmaster.pid")))
        GTEST_SKIP() << "this process stopped its throwaway PostgreSQL server in an earlier test";
    // A foreign key's statement waits in the destination until the server is stopped: the
    // run makes the database anew, from the template.
    const std::string hold =
        "CREATE FUNCTION hold_fk() RETURNS event_trigger LANGUAGE plpgsql AS $$ BEGIN "
        "IF current_query() ILIKE '%FOREIGN KEY%' THEN PERFORM pg_sleep(60); END IF; END $$;"
        "CREATE EVENT TRIGGER hold_fk ON ddl_command_start WHEN TAG IN ('ALTER TABLE') EXECUTE FUNCTION hold_fk()";
    {
        pqxx::connection t(own_pg_conninfo("template1"));
        pqxx::nontransaction(t).exec(hold);
    }
    scratch dir;
    background_run run(options(false, true) + strings{"--src=" + src.name(), "--dest=" + db}, dir.path());
    ASSERT_TRUE(wait_for([&] {
        try {
            pqxx::connection c(own_pg_conninfo(db));
            return !pqxx::nontransaction(c)
                        .exec("SELECT 1 FROM pg_stat_activity WHERE wait_event = 'PgSleep' AND query ILIKE "
                              "'%FOREIGN KEY%'")
                        .empty() ||
                   !run.running();
        } catch (const std::exception&) {
            return !run.running();
        }
    }));
    ASSERT_TRUE(run.running()) << "the run ended before its server: " << run.wait().err;
    const int postmaster = pid_in(s_dir + "/pg/data/postmaster.pid");
    ASSERT_EQ(kill(postmaster, SIGINT), 0);
    const run_result r = run.wait();
    EXPECT_TRUE(wait_for([&] { return !process_alive(postmaster); }));

    EXPECT_EQ(r.status, 255) << r.err;
    EXPECT_EQ(count_of(r.err, "Error:"), 1u) << r.err;
    // Made beside the rows or after the last table, the key is lost after the last table's rows.
    EXPECT_NE(r.err.find("Lost the connection to the PostgreSQL server after the last table's rows, while "
                         "creating keys, foreign keys and views. The conversion was ended."),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("not converted"), std::string::npos) << r.err;
}

// The finisher's session ended while it builds a table's primary key (the suite's own
// servers: the server stays): that key is a failure of its own table, counted, and the
// table's other index and the next table's key are still built on a new connection.
TEST(finisher_session_lost, the_key_not_built_is_counted_under_its_own_table)
{
    mysql_source src;
    src.exec("CREATE TABLE k (id INT PRIMARY KEY, v INT, KEY kv (v));"
             "CREATE TABLE z (id INT PRIMARY KEY);"
             "INSERT INTO k SELECT seq, seq FROM seq_1_to_1000; INSERT INTO z SELECT seq FROM seq_1_to_10;");
    pg_destination dst;
    scratch dir;
    background_run run(connection_options() + strings{"--src=" + src.name(), "--dest=" + dst.name()}, dir.path());
    const std::string conninfo = test_env::pg_conninfo(dst.name());
    // While k exists, a lock on it keeps its primary key's statement waiting.
    std::unique_ptr<pqxx::connection> holder;
    std::unique_ptr<pqxx::work> lock;
    ASSERT_TRUE(wait_for([&] {
        try {
            holder = std::make_unique<pqxx::connection>(conninfo);
            lock = std::make_unique<pqxx::work>(*holder);
            lock->exec("LOCK TABLE public.k IN ACCESS SHARE MODE");
            return true;
        } catch (const std::exception&) {
            lock.reset();
            holder.reset();
            return !run.running();
        }
    }));
    int builder = 0;
    ASSERT_TRUE(wait_for([&] {
        builder = waiting_in(conninfo, "%PRIMARY KEY%");
        return builder != 0 || !run.running();
    }));
    ASSERT_NE(builder, 0) << "the run ended first";
    {
        pqxx::connection c(conninfo);
        pqxx::nontransaction t(c);
        t.exec("SELECT pg_terminate_backend(" + std::to_string(builder) + ")");
    }
    lock.reset();
    holder.reset();
    const run_result r = run.wait();

    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("of table '"), std::string::npos) << r.err;
    // Named with k, never with the table after it.
    const std::size_t named = r.err.find("Primary key");
    ASSERT_NE(named, std::string::npos) << r.err;
    const std::string line = r.err.substr(named, r.err.find('\n', named) - named);
    EXPECT_NE(line.find("k'"), std::string::npos) << line;
    EXPECT_EQ(line.find("z'"), std::string::npos) << line;
    EXPECT_EQ(dst.value("SELECT count(*) FROM pg_index WHERE indisprimary AND indrelid = 'public.k'::regclass"), "0");
    EXPECT_EQ(dst.value("SELECT count(*) FROM pg_indexes WHERE tablename = 'k' AND indexname LIKE '%kv'"), "1");
    EXPECT_EQ(dst.value("SELECT count(*) FROM pg_index WHERE indisprimary AND indrelid = 'public.z'::regclass"), "1");
    EXPECT_EQ(dst.value("SELECT count(*) FROM k"), "1000");
}

// The connection of a batch breaks while its COMMIT is on its way (the server ended while a
// deferred trigger holds that COMMIT): whether the rows were stored is not known, so none of
// them counts as stored. On the run's own connection (a keyed table merged into) the run ends
// naming only the rows committed before; on a writer connection (a table without a key) the
// run goes on and counts every row of that batch as not converted.
TEST(commit_broken, every_row_of_the_batch_counts_as_not_stored)
{
    struct case_t {
        const char* table;
        const char* definition;  // the same in both databases
        int status;
        const char* said;     // on standard error
        const char* arrived;  // rows in the destination after the run
    };
    const case_t cases[] = {
        {"k", "(id INT PRIMARY KEY, v INT)", 255, "'k': 1000 of its rows were committed", "1000"},
        {"n", "(id INT, v INT)", 1, "Conversion incomplete: 1000 rows,", "1500"},
    };
    for (const case_t& c : cases) {
        SCOPED_TRACE(c.table);
        const std::string table = c.table;
        mysql_source src;
        src.exec("CREATE TABLE " + table + " " + c.definition + "; INSERT INTO " + table +
                 " SELECT seq, seq FROM seq_1_to_2500;");
        pg_destination dst;
        dst.create();
        // The second batch of 1000 rows (INSERT) waits in its COMMIT.
        dst.exec("CREATE TABLE " + table + " " + c.definition + ";"
                 "CREATE FUNCTION hold() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                 "IF NEW.id BETWEEN 1001 AND 2000 AND current_setting('hold.done', true) IS DISTINCT FROM '1' THEN "
                 "PERFORM set_config('hold.done', '1', true); PERFORM pg_sleep(60); END IF; RETURN NULL; END $$;"
                 "CREATE CONSTRAINT TRIGGER hold AFTER INSERT ON " + table +
                 " DEFERRABLE INITIALLY DEFERRED FOR EACH ROW EXECUTE FUNCTION hold()");
        scratch dir;
        const strings args = connection_options() + strings{"--src=" + src.name(), "--dest=" + dst.name(), "--mode=3"};
        background_run run(args, dir.path());
        const std::string conninfo = test_env::pg_conninfo(dst.name());
        int held = 0;
        ASSERT_TRUE(wait_for([&] {
            pqxx::connection pc(conninfo);
            pqxx::nontransaction t(pc);
            const auto r = t.exec("SELECT pid FROM pg_stat_activity WHERE wait_event = 'PgSleep' AND query = 'COMMIT'");
            held = r.empty() ? 0 : r[0][0].as<int>();
            return held != 0 || !run.running();
        }));
        ASSERT_NE(held, 0) << "the run ended first";
        dst.exec("SELECT pg_terminate_backend(" + std::to_string(held) + ")");
        const run_result r = run.wait();

        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_EQ(dst.value("SELECT count(*) FROM " + table), c.arrived);
        if (table == "k") {
            // What was not stored, a merge completes.
            dst.exec("DROP TRIGGER hold ON k");
            const run_result again = run_quindrel(args);
            EXPECT_EQ(again.status, 0) << again.err;
            EXPECT_EQ(dst.value("SELECT count(*) FROM k"), "2500");
        }
    }
}

}  // namespace
