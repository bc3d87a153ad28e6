#pragma once
// Loading a script file into a test database with the server's own psql, as a user would:
// psql -v ON_ERROR_STOP=1 -f script.
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/test_env.h"

namespace test_env {

inline std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Runs psql -v ON_ERROR_STOP=1 -f script on the database (without the variable when
// on_error_stop is false); returns its exit status and gives what it printed (both streams) in
// output.
inline int run_psql(const std::string& db, const std::string& script, std::string& output,
                    bool on_error_stop = true)
{
    const char* bin = std::getenv("TEST_PG_BIN");
    const std::string psql = std::string(bin && *bin ? bin : "/usr/lib/postgresql/15/bin") + "/psql";
    const auto pg = test_env::pg();
    const std::string out_file = script + ".psql.out";
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("PGPASSWORD", pg.password.c_str(), 1);
        const int fd = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, 1);
        dup2(fd, 2);
        const std::string port = std::to_string(pg.port);
        execl(psql.c_str(), "psql", "-X", "-q", "-v", on_error_stop ? "ON_ERROR_STOP=1" : "ECHO=none", "-h", pg.host.c_str(), "-p",
              port.c_str(), "-U", pg.user.c_str(), "-d", db.c_str(), "-f", script.c_str(), (char*)nullptr);
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    output = read_file(out_file);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace test_env
