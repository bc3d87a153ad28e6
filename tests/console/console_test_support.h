#pragma once
// Running the built console program with captured output, and the source and
// destination databases the tests own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mysql.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <pqxx/pqxx>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/test_env.h"

extern char** environ;

namespace console_test {

struct run_result {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
};

inline std::string quindrel_path()
{
    const char* dir = std::getenv("QUINDREL_BINARY_DIR");
    if (!dir || !*dir)
        throw std::runtime_error("QUINDREL_BINARY_DIR is not set: run the tests through ctest");
    return std::string(dir) + "/console/quindrel";
}

// Runs the program with these arguments (no shell: blanks, quotes and '$'
// reach it as they are) and collects both streams until it ends.
// The program's path and its arguments as posix_spawn takes them; `argv` points into `texts`.
struct quindrel_command {
    explicit quindrel_command(const std::vector<std::string>& arguments) : texts{quindrel_path()}
    {
        texts.insert(texts.end(), arguments.begin(), arguments.end());
        for (auto& t : texts)
            argv.push_back(t.data());
        argv.push_back(nullptr);
    }
    quindrel_command(const quindrel_command&) = delete;
    quindrel_command& operator=(const quindrel_command&) = delete;
    const std::string& program() const { return texts.front(); }

    std::vector<std::string> texts;
    std::vector<char*> argv;
};

inline run_result run_quindrel(const std::vector<std::string>& arguments)
{
    quindrel_command command(arguments);
    const std::string& program = command.program();
    auto& argv = command.argv;

    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    posix_spawn_file_actions_addclose(&actions, out_pipe[0]);
    posix_spawn_file_actions_addclose(&actions, err_pipe[0]);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (rc != 0) {
        close(out_pipe[0]);
        close(err_pipe[0]);
        throw std::runtime_error("cannot start " + program);
    }

    run_result result;
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_count = 2;
    char buffer[65536];
    while (open_count > 0) {
        if (poll(fds, 2, -1) < 0)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// The eight connection options for the test servers.
inline std::vector<std::string> connection_options()
{
    const auto my = test_env::mysql();
    const auto pg = test_env::pg();
    return {"--mysqlh=" + my.host, "--myport=" + std::to_string(my.port), "--mysqlu=" + my.user,
            "--mysqlp=" + my.password, "--posgsh=" + pg.host, "--pgport=" + std::to_string(pg.port),
            "--posgsu=" + pg.user, "--posgsp=" + pg.password};
}

inline std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A MySQL database of the test's own, dropped at the end.
class mysql_source {
public:
    explicit mysql_source(const std::string& prefix = "qcsrc") : m_name(test_env::unique_name(prefix))
    {
        const auto f = test_env::mysql();
        m_conn = mysql_init(nullptr);
        if (!mysql_real_connect(m_conn, f.host.c_str(), f.user.c_str(), f.password.c_str(), nullptr,
                                static_cast<unsigned>(f.port), nullptr, CLIENT_MULTI_STATEMENTS))
            throw std::runtime_error(std::string("MySQL: ") + mysql_error(m_conn));
        mysql_set_character_set(m_conn, "utf8mb4");
        exec("CREATE DATABASE `" + m_name + "` CHARACTER SET utf8mb4");
        exec("USE `" + m_name + "`");
    }
    ~mysql_source()
    {
        try {
            exec("DROP DATABASE IF EXISTS `" + m_name + "`");
        } catch (...) {
        }
        mysql_close(m_conn);
    }
    mysql_source(const mysql_source&) = delete;
    mysql_source& operator=(const mysql_source&) = delete;

    // Runs one or more statements and drains their results.
    void exec(const std::string& sql)
    {
        if (mysql_real_query(m_conn, sql.data(), sql.size()) != 0)
            throw std::runtime_error("MySQL: " + std::string(mysql_error(m_conn)) + " in " + sql.substr(0, 200));
        do {
            if (MYSQL_RES* r = mysql_store_result(m_conn))
                mysql_free_result(r);
        } while (mysql_next_result(m_conn) == 0);
        if (mysql_errno(m_conn) != 0)
            throw std::runtime_error("MySQL: " + std::string(mysql_error(m_conn)));
    }

    // One statement with a binary parameter: for values too large or too odd
    // for a literal.
    void exec_with_blob(const std::string& sql, const std::string& bytes)
    {
        MYSQL_STMT* stmt = mysql_stmt_init(m_conn);
        std::unique_ptr<MYSQL_STMT, decltype(&mysql_stmt_close)> owner(stmt, mysql_stmt_close);
        if (mysql_stmt_prepare(stmt, sql.data(), sql.size()) != 0)
            throw std::runtime_error("MySQL: " + std::string(mysql_stmt_error(stmt)));
        MYSQL_BIND bind{};
        unsigned long length = bytes.size();
        bind.buffer_type = MYSQL_TYPE_LONG_BLOB;
        bind.buffer = const_cast<char*>(bytes.data());
        bind.buffer_length = length;
        bind.length = &length;
        if (mysql_stmt_bind_param(stmt, &bind) != 0 || mysql_stmt_execute(stmt) != 0)
            throw std::runtime_error("MySQL: " + std::string(mysql_stmt_error(stmt)));
    }

    // The first field of the first row of a query, "<null>" for NULL.
    std::string value(const std::string& sql)
    {
        if (mysql_real_query(m_conn, sql.data(), sql.size()) != 0)
            throw std::runtime_error("MySQL: " + std::string(mysql_error(m_conn)));
        MYSQL_RES* res = mysql_store_result(m_conn);
        std::unique_ptr<MYSQL_RES, decltype(&mysql_free_result)> owner(res, mysql_free_result);
        MYSQL_ROW row = res ? mysql_fetch_row(res) : nullptr;
        if (!row)
            return "<none>";
        return row[0] ? std::string(row[0], mysql_fetch_lengths(res)[0]) : std::string("<null>");
    }

    const std::string& name() const { return m_name; }

private:
    std::string m_name;
    MYSQL* m_conn = nullptr;
};

// A PostgreSQL database name the test owns; the database (if the program
// made it) is dropped at the end.
class pg_destination {
public:
    explicit pg_destination(const std::string& prefix = "qcdst") : m_name(test_env::unique_name(prefix)) {}
    ~pg_destination()
    {
        try {
            pqxx::connection c(test_env::pg_conninfo("postgres"));
            pqxx::nontransaction t(c);
            t.exec("DROP DATABASE IF EXISTS " + t.quote_name(m_name) + " WITH (FORCE)");
        } catch (...) {
        }
    }
    pg_destination(const pg_destination&) = delete;
    pg_destination& operator=(const pg_destination&) = delete;

    const std::string& name() const { return m_name; }

    bool exists() const
    {
        pqxx::connection c(test_env::pg_conninfo("postgres"));
        pqxx::nontransaction t(c);
        return t.exec("SELECT 1 FROM pg_database WHERE datname = " + t.quote(m_name)).size() == 1;
    }

    void create()
    {
        pqxx::connection c(test_env::pg_conninfo("postgres"));
        pqxx::nontransaction t(c);
        t.exec("CREATE DATABASE " + t.quote_name(m_name) + " ENCODING 'UTF8' TEMPLATE template0");
    }

    // The rows of a query, each row's fields joined by '|', NULL as "<null>".
    std::vector<std::string> rows(const std::string& sql) const
    {
        pqxx::connection c(test_env::pg_conninfo(m_name));
        pqxx::nontransaction t(c);
        std::vector<std::string> out;
        for (const auto& row : t.exec(sql)) {
            std::string line;
            for (pqxx::row::size_type i = 0; i < row.size(); ++i) {
                if (i)
                    line += '|';
                line += row[i].is_null() ? std::string("<null>") : row[i].as<std::string>();
            }
            out.push_back(line);
        }
        return out;
    }

    std::string value(const std::string& sql) const
    {
        auto r = rows(sql);
        return r.empty() ? std::string("<none>") : r.front();
    }

    void exec(const std::string& sql) const
    {
        pqxx::connection c(test_env::pg_conninfo(m_name));
        pqxx::nontransaction t(c);
        t.exec(sql);
    }

private:
    std::string m_name;
};

// A scratch folder removed at the end.
class scratch {
public:
    scratch()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "qc_test_XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~scratch()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    scratch(const scratch&) = delete;
    scratch& operator=(const scratch&) = delete;

    std::string file(const std::string& name) const { return m_path + "/" + name; }
    std::string write(const std::string& name, const std::string& bytes) const
    {
        const std::string path = file(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

inline std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The program started in the background, its two streams going to files of `folder`.
class background_run {
public:
    background_run(const std::vector<std::string>& arguments, const std::string& folder)
        : m_out(folder + "/run.out"), m_err(folder + "/run.err")
    {
        quindrel_command command(arguments);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int rc = posix_spawn(&m_pid, command.program().c_str(), &actions, nullptr, command.argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0)
            throw std::runtime_error("cannot start " + command.program());
    }
    ~background_run()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    background_run(const background_run&) = delete;
    background_run& operator=(const background_run&) = delete;

    bool running() const { return m_pid > 0 && waitpid(m_pid, nullptr, WNOHANG) == 0; }
    void signal(int number) const { ASSERT_EQ(kill(m_pid, number), 0); }
    // Holds the program where it is (a stopped child still counts as running), and lets it go on.
    void pause() const { kill(m_pid, SIGSTOP); }
    void resume() const { kill(m_pid, SIGCONT); }
    // Waits for the end (a run that ends as it should is over within seconds; after two
    // minutes it is killed).
    run_result wait()
    {
        int status = 0;
        for (int i = 0; waitpid(m_pid, &status, WNOHANG) != m_pid; ++i) {
            if (i == 2400) {
                kill(m_pid, SIGKILL);
                waitpid(m_pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        m_pid = 0;
        run_result r;
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = read_file(m_out);
        r.err = read_file(m_err);
        return r;
    }

private:
    pid_t m_pid = 0;
    std::string m_out, m_err;
};

// Waits until the condition holds (or two minutes passed); false when it never did. Asked
// often, so a run is caught near the point waited for, far from its end.
template <class Condition>
bool wait_for(Condition condition)
{
    for (int i = 0; i < 24000; ++i) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

}  // namespace console_test
