// Reading a table through the MySQL engine, next to the server's own command-line client
// reading the same table (mariadb --quick --batch), both streaming.
//
// Run: source the test servers' environment (TEST_MYSQL_HOST/PORT/USER/PASSWORD), then
//   bench_mysql_read [--rows=N]        (or QUINDREL_BENCH_ROWS=N; default 1,000,000)
// The table is generated in a fresh database that is dropped at the end.
#include <benchmark/benchmark.h>
#include <mysql.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

#include "SQL/sql_database.h"
#include "SQL/sql_engine.h"
#include "TK/tk_strings.h"

extern char** environ;

namespace {

struct server {
    std::string host, user, password;
    int port = 0;
};

server g_server;
std::string g_database;
unsigned long long g_rows = 1000000;
sql_engine* g_engine = nullptr;

std::string env(const char* name)
{
    const char* v = std::getenv(name);
    if (!v || !*v) throw std::runtime_error(std::string(name) + " is not set (source the test servers' env)");
    return v;
}

void admin(MYSQL* m, const std::string& sql)
{
    if (mysql_real_query(m, sql.data(), sql.size()) != 0)
        throw std::runtime_error("statement failed: " + std::string(mysql_error(m)));
    MYSQL_RES* r = mysql_store_result(m);
    if (r) mysql_free_result(r);
}

void with_admin(const std::function<void(MYSQL*)>& f)
{
    MYSQL* m = mysql_init(nullptr);
    if (!mysql_real_connect(m, g_server.host.c_str(), g_server.user.c_str(), g_server.password.c_str(), nullptr,
                            g_server.port, nullptr, 0)) {
        std::string e = mysql_error(m);
        mysql_close(m);
        throw std::runtime_error("connect: " + e);
    }
    try {
        f(m);
    } catch (...) {
        mysql_close(m);
        throw;
    }
    mysql_close(m);
}

void create_table()
{
    with_admin([](MYSQL* m) {
        admin(m, "CREATE DATABASE `" + g_database + "` CHARACTER SET utf8mb4");
        admin(m, "USE `" + g_database + "`");
        admin(m, "CREATE TABLE bench_rows (id INT PRIMARY KEY, qty INT NOT NULL, price DECIMAL(12,2),"
                 " name VARCHAR(40), created DATETIME, ratio DOUBLE, flag TINYINT)");
        // Inserted in chunks so a large table does not need one huge transaction.
        const unsigned long long chunk = 200000;
        for (unsigned long long from = 1; from <= g_rows; from += chunk) {
            unsigned long long to = std::min(g_rows, from + chunk - 1);
            admin(m, "INSERT INTO bench_rows SELECT seq, seq % 1000, seq / 100, CONCAT('item name ', seq),"
                     " '2024-01-02 03:04:05' + INTERVAL seq SECOND, seq / 7, seq % 2 FROM seq_" +
                         std::to_string(from) + "_to_" + std::to_string(to));
        }
    });
}

void drop_database()
{
    try {
        with_admin([](MYSQL* m) { admin(m, "DROP DATABASE IF EXISTS `" + g_database + "`"); });
    } catch (const std::exception& e) {
        std::cerr << "cleanup: " << e.what() << "\n";
    }
}

void BM_engine_read(benchmark::State& state)
{
    auto db = g_engine->open_db(tk_utf8_to_unicode(g_database), 1, L"");
    std::uint64_t total = 0;
    for (auto _ : state) {
        auto rs = db->get_table(L"bench_rows", 1);
        std::uint64_t rows = 0;
        rs->reset();
        while (!rs->is_eof()) {
            benchmark::DoNotOptimize(rs->get_item());
            rs->next();
            ++rows;
        }
        if (rows != g_rows) state.SkipWithError("row count differs");
        total += rows;
    }
    state.counters["rows/s"] = benchmark::Counter(static_cast<double>(total), benchmark::Counter::kIsRate);
    // Rows stream through a window of 256 records: the peak stays flat whatever the row count.
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// The command-line client with --quick (streamed, like the engine) and --batch, its output
// read from a pipe and counted by lines.
void BM_mariadb_cli(benchmark::State& state)
{
    std::uint64_t total = 0;
    for (auto _ : state) {
        int fds[2];
        if (pipe(fds) != 0) {
            state.SkipWithError("pipe failed");
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::string host = "--host=" + g_server.host, port = "--port=" + std::to_string(g_server.port),
                    user = "--user=" + g_server.user, stmt = "SELECT * FROM `" + g_database + "`.bench_rows";
        const char* argv[] = {"mariadb", "--quick", "--batch", "--skip-column-names", host.c_str(), port.c_str(),
                              user.c_str(), "-e", stmt.c_str(), nullptr};
        // The password goes through the environment, never the command line.
        setenv("MYSQL_PWD", g_server.password.c_str(), 1);
        pid_t pid = 0;
        int rc = posix_spawnp(&pid, "mariadb", &actions, nullptr, const_cast<char* const*>(argv), environ);
        unsetenv("MYSQL_PWD");
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (rc != 0) {
            close(fds[0]);
            state.SkipWithError("cannot start mariadb");
            return;
        }
        std::uint64_t lines = 0;
        char buf[1 << 16];
        ssize_t n;
        while ((n = read(fds[0], buf, sizeof buf)) > 0)
            for (ssize_t i = 0; i < n; ++i) lines += buf[i] == '\n';
        close(fds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        if (lines != g_rows) state.SkipWithError("row count differs");
        total += lines;
    }
    state.counters["rows/s"] = benchmark::Counter(static_cast<double>(total), benchmark::Counter::kIsRate);
}

}  // namespace

int main(int argc, char** argv)
{
    if (const char* r = std::getenv("QUINDREL_BENCH_ROWS")) g_rows = std::strtoull(r, nullptr, 10);
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--rows=", 7) == 0) g_rows = std::strtoull(argv[i] + 7, nullptr, 10);
        else argv[kept++] = argv[i];
    }
    argc = kept;
    if (g_rows == 0) g_rows = 1;
    benchmark::Initialize(&argc, argv);
    try {
        g_server = {env("TEST_MYSQL_HOST"), env("TEST_MYSQL_USER"), env("TEST_MYSQL_PASSWORD"),
                    std::stoi(env("TEST_MYSQL_PORT"))};
        g_database = "qbench_" + std::to_string(getpid());
        std::cout << "Generating " << g_rows << " rows in " << g_database << "...\n";
        create_table();
        sql_engine engine;
        g_engine = &engine;
        engine.connect(g_server.host, g_server.user, g_server.password, g_server.port);
        benchmark::RegisterBenchmark("engine_read", BM_engine_read)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("mariadb_quick_batch", BM_mariadb_cli)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
        benchmark::RunSpecifiedBenchmarks();
        g_engine = nullptr;
    } catch (const std::exception& e) {
        std::cerr << "bench_mysql_read: " << e.what() << "\n";
        drop_database();
        return 1;
    }
    drop_database();
    benchmark::Shutdown();
    return 0;
}
