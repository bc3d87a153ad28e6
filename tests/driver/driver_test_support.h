#pragma once
// A test front end that records what the driver shows, and a fixture that owns
// a source database on the MySQL test server and a destination database name
// on the PostgreSQL test server (both dropped at the end).
#include <gtest/gtest.h>
#include <mysql.h>

#include <pqxx/pqxx>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "SQL/sql_engine.h"
#include "TK/tk_strings.h"
#include "driver/error_handler.h"
#include "driver/frontend_hooks.h"
#include "driver/pelmora_convertor.h"
#include "support/test_env.h"

// Thrown by the test front end where a program would end.
struct process_end {
    int exit_code;
};

class recording_hooks : public frontend_hooks {
public:
    void progress_line(const std::wstring& line) override { lines.push_back(line); }
    void start_progress_timer(int period_ms) override { timer_period = period_ms; }
    void unexpected_error(const std::string& text) override { unexpected.push_back(text); }
    void missing_table(const std::wstring& name) override { missing.push_back(name); }
    void show_internal_error(const std::string& message) override { internal.push_back(message); }
    void show_error(const std::string& message) override { errors.push_back(message); }
    frontend_continue_answer ask_continue(const std::string& message) override
    {
        continues.push_back(message);
        return answer;
    }
    bool level1_ends_process() const override { return level1_ends; }
    [[noreturn]] void end_process(int exit_code) override { throw process_end{exit_code}; }

    // Every level-0 and level-1 message shown, in order.
    std::vector<std::string> reports() const
    {
        std::vector<std::string> all = continues;
        all.insert(all.end(), errors.begin(), errors.end());
        return all;
    }

    std::vector<std::wstring> lines;
    std::vector<std::string> unexpected, internal, errors, continues;
    std::vector<std::wstring> missing;
    int timer_period = 0;
    frontend_continue_answer answer;
    bool level1_ends = false;
};

// Installs the hooks for the scope of a test.
class hooks_scope {
public:
    explicit hooks_scope(frontend_hooks& h) { set_frontend_hooks(&h); }
    ~hooks_scope() { set_frontend_hooks(nullptr); }
};

inline void mysql_exec(MYSQL* m, const std::string& sql)
{
    if (mysql_real_query(m, sql.data(), sql.size()) != 0)
        throw std::runtime_error("MySQL: " + std::string(mysql_error(m)) + "\n" + sql);
    do {
        if (MYSQL_RES* r = mysql_store_result(m))
            mysql_free_result(r);
    } while (mysql_next_result(m) == 0);
}

// Connects the convertor's MySQL half and its PostgreSQL engine (to the maintenance
// database) to the test servers.
inline void connect_test_servers(pelmora_convertor& c)
{
    auto my = test_env::mysql();
    c.store_mysql_settings(my.host, my.user, my.password, std::to_string(my.port));
    c.connect_mysql_server();
    auto pg = test_env::pg();
    c.pgs_host = pg.host;
    c.pgs_user = pg.user;
    c.pgs_password = pg.password;
    c.pgs_port = pg.port;
    c.connect_pgs_server("postgres");
}

// A fresh utf8mb4 database on the MySQL test server; returns an admin connection (multi
// statements on) that uses it. drop_test_databases drops it and closes the connection.
inline MYSQL* create_test_source(const std::string& source_name)
{
    auto my = test_env::mysql();
    MYSQL* admin = mysql_init(nullptr);
    mysql_options(admin, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    if (!mysql_real_connect(admin, my.host.c_str(), my.user.c_str(), my.password.c_str(), nullptr, my.port,
                            nullptr, CLIENT_MULTI_STATEMENTS)) {
        const std::string text = mysql_error(admin);
        mysql_close(admin);
        throw std::runtime_error("MySQL admin: " + text);
    }
    mysql_exec(admin, "CREATE DATABASE `" + source_name + "` CHARACTER SET utf8mb4");
    mysql_exec(admin, "USE `" + source_name + "`");
    return admin;
}

// Rows of a query in a PostgreSQL database, each row's fields joined by '|' (NULL as "NULL").
inline std::vector<std::string> destination_rows(const std::string& dest_name, const std::string& sql)
{
    pqxx::connection c(test_env::pg_conninfo(dest_name));
    pqxx::nontransaction tx(c);
    std::vector<std::string> out;
    for (const auto& row : tx.exec(sql)) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            if (i) line += '|';
            line += row[static_cast<int>(i)].is_null() ? "NULL" : row[static_cast<int>(i)].c_str();
        }
        out.push_back(line);
    }
    return out;
}

// Drops a test's source database (closing the admin connection, when there is one) and its
// destination database, whatever the test left open on them.
inline void drop_test_databases(MYSQL* admin, const std::string& source_name, const std::string& dest_name)
{
    if (admin) {
        try {
            mysql_exec(admin, "DROP DATABASE IF EXISTS `" + source_name + "`");
        } catch (...) {
        }
        mysql_close(admin);
    }
    try {
        pqxx::connection c(test_env::pg_conninfo("postgres"));
        pqxx::nontransaction tx(c);
        tx.exec("DROP DATABASE IF EXISTS \"" + dest_name + "\" WITH (FORCE)");
    } catch (...) {
    }
}

// The driver against both test servers: a convertor of the console form, its
// MySQL half connected, a fresh source database and a destination name.
class driver_server_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        hooks_ = std::make_unique<hooks_scope>(hooks);
        handler = std::make_unique<error_handler>(pgs_error_table);
        handler->load_err_map(mysql_error_table);
        conv = std::make_unique<pelmora_convertor>(convertor_form::console);

        connect_test_servers(*conv);
        source_name = test_env::unique_name("qdrv_src");
        dest_name = test_env::unique_name("qdrv_dst");
        admin_ = create_test_source(source_name);
        conv->set_source(tk_utf8_to_unicode(source_name));
        conv->set_destination(tk_utf8_to_unicode(dest_name));
    }

    void TearDown() override
    {
        conv.reset();
        handler.reset();
        hooks_.reset();
        drop_test_databases(admin_, source_name, dest_name);
    }

    // Source statements (several separated by ';').
    void source(const std::string& sql) { mysql_exec(admin_, sql); }
    // The first field of the first row of a source query ("" when there is none).
    std::string source_value(const std::string& sql)
    {
        if (mysql_real_query(admin_, sql.data(), sql.size()) != 0)
            throw std::runtime_error("MySQL: " + std::string(mysql_error(admin_)));
        MYSQL_RES* res = mysql_store_result(admin_);
        MYSQL_ROW row = res ? mysql_fetch_row(res) : nullptr;
        std::string value = row && row[0] ? row[0] : "";
        if (res)
            mysql_free_result(res);
        return value;
    }

    // Destination statements, in a database created when missing.
    void dest(const std::string& sql)
    {
        ensure_dest();
        pqxx::connection c(test_env::pg_conninfo(dest_name));
        pqxx::nontransaction tx(c);
        tx.exec(sql);
    }
    void ensure_dest()
    {
        pqxx::connection c(test_env::pg_conninfo("postgres"));
        pqxx::nontransaction tx(c);
        if (tx.exec("SELECT 1 FROM pg_database WHERE datname = " + tx.quote(dest_name)).empty())
            tx.exec("CREATE DATABASE \"" + dest_name + "\"");
    }
    // Rows of a destination query, each row's fields joined by '|' (NULL as "NULL").
    std::vector<std::string> rows(const std::string& sql) { return destination_rows(dest_name, sql); }
    bool dest_exists()
    {
        pqxx::connection c(test_env::pg_conninfo("postgres"));
        pqxx::nontransaction tx(c);
        return !tx.exec("SELECT 1 FROM pg_database WHERE datname = " + tx.quote(dest_name)).empty();
    }
    bool dest_table_exists(const std::string& schema, const std::string& table)
    {
        return !rows("SELECT 1 FROM information_schema.tables WHERE table_schema = '" + schema +
                     "' AND table_name = '" + table + "'")
                    .empty();
    }

    // Runs the conversion on the test's thread.
    void run() { (*conv)(); }

    recording_hooks hooks;
    std::unique_ptr<error_handler> handler;
    std::unique_ptr<pelmora_convertor> conv;
    std::string source_name;
    std::string dest_name;

private:
    std::unique_ptr<hooks_scope> hooks_;
    MYSQL* admin_ = nullptr;
};

inline bool contains(const std::vector<std::string>& list, const std::string& part)
{
    for (const auto& s : list)
        if (s.find(part) != std::string::npos) return true;
    return false;
}
