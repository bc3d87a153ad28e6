#pragma once
// The one engine of the test program (the engine is a process singleton) and a throwaway
// database per test on the MySQL test server.
#include <gtest/gtest.h>
#include <mysql.h>

#include <memory>
#include <string>

#include "SQL/sql_engine.h"
#include "SQL/sql_handles.h"
#include "TK/tk_strings.h"
#include "support/test_env.h"

inline sql_engine& test_engine()
{
    static sql_engine engine;
    return engine;
}

// Connects the test engine (once) to the test server.
inline sql_engine& connected_engine()
{
    sql_engine& e = test_engine();
    if (!e.is_connected()) {
        auto f = test_env::mysql();
        e.connect(f.host, f.user, f.password, f.port);
    }
    return e;
}

// A connection of the test's own for preparing data, apart from the engine's.
inline sql_connection admin_connection()
{
    auto f = test_env::mysql();
    sql_connection c(mysql_init(nullptr));
    mysql_options(c.get(), MYSQL_SET_CHARSET_NAME, "utf8mb4");
    if (!mysql_real_connect(c.get(), f.host.c_str(), f.user.c_str(), f.password.c_str(), nullptr, f.port, nullptr,
                            CLIENT_MULTI_STATEMENTS))
        throw std::runtime_error(std::string("admin connection: ") + mysql_error(c.get()));
    return c;
}

inline void admin_exec(MYSQL* m, const std::string& sql)
{
    if (mysql_real_query(m, sql.data(), sql.size()) != 0)
        throw std::runtime_error("statement failed: " + std::string(mysql_error(m)) + "\n" + sql);
    do {
        sql_result_ptr r(mysql_store_result(m));
    } while (mysql_next_result(m) == 0);
    if (mysql_errno(m) != 0) throw std::runtime_error("statement failed: " + std::string(mysql_error(m)) + "\n" + sql);
}

// A database of the test's own, created empty and dropped at the end.
class scratch_database {
public:
    explicit scratch_database(const std::string& prefix = "qsql") : admin(admin_connection()), name(test_env::unique_name(prefix))
    {
        admin_exec(admin.get(), "CREATE DATABASE `" + name + "` CHARACTER SET utf8mb4");
        admin_exec(admin.get(), "USE `" + name + "`");
    }
    ~scratch_database()
    {
        try {
            admin_exec(admin.get(), "DROP DATABASE IF EXISTS `" + name + "`");
        } catch (...) {
        }
    }
    void exec(const std::string& sql) { admin_exec(admin.get(), sql); }
    std::wstring wname() const { return tk_utf8_to_unicode(name); }

    sql_connection admin;
    std::string name;
};
