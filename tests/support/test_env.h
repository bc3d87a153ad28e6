#pragma once
// Connection facts of the throwaway test servers, taken from the environment that
// scripts/test_servers.sh writes. A missing variable fails the test: in CI the servers
// are always there.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace test_env {

struct server_facts {
    std::string host;
    int port = 0;
    std::string user;
    std::string password;
};

inline std::string require(const char* name)
{
    const char* v = std::getenv(name);
    if (!v || !*v)
        throw std::runtime_error(std::string("test server variable ") + name +
                                 " is not set: run the tests through scripts/run_tests.sh");
    return v;
}

inline server_facts mysql()
{
    return {require("TEST_MYSQL_HOST"), std::stoi(require("TEST_MYSQL_PORT")),
            require("TEST_MYSQL_USER"), require("TEST_MYSQL_PASSWORD")};
}

inline server_facts pg()
{
    return {require("TEST_PG_HOST"), std::stoi(require("TEST_PG_PORT")),
            require("TEST_PG_USER"), require("TEST_PG_PASSWORD")};
}

// A name no other test (or test process) uses: tests own the databases they create.
inline std::string unique_name(const std::string& prefix)
{
    static std::atomic<unsigned> counter{0};
    auto t = std::chrono::steady_clock::now().time_since_epoch().count() % 1000000;
    return prefix + "_" + std::to_string(::getpid()) + "_" + std::to_string(t) + "_" +
           std::to_string(counter++);
}

// libpq connection string of the test PostgreSQL server (values quoted as conninfo wants).
inline std::string pg_conninfo(const std::string& dbname = "postgres")
{
    auto q = [](const std::string& v) {
        std::string r = "'";
        for (char c : v) {
            if (c == '\'' || c == '\\') r += '\\';
            r += c;
        }
        return r + "'";
    };
    auto f = pg();
    return "host=" + q(f.host) + " port=" + std::to_string(f.port) + " user=" + q(f.user) +
           " password=" + q(f.password) + " dbname=" + q(dbname);
}

}  // namespace test_env
