#pragma once
// The source half of the convertor: the MySQL connection settings, the MySQL
// engine (one per process, owned here) and the dump options that travel with
// every profile. The engine is held through a pointer so that this header
// keeps the MySQL client library out.

#include <memory>
#include <string>

#include "SQL/sql_dump_options.h"

class sql_engine;
class udb_profile;

class mysql_converter_impl {
public:
    mysql_converter_impl();
    virtual ~mysql_converter_impl();
    mysql_converter_impl(const mysql_converter_impl&) = delete;
    mysql_converter_impl& operator=(const mysql_converter_impl&) = delete;

    // Keeps host, user and port with blanks trimmed at both ends and the
    // password exactly as given; an empty port
    // becomes "3306".
    void store_mysql_settings(const std::string& host, const std::string& user, const std::string& password,
                              const std::string& port);
    // Connects the engine (closing an open connection first). The port text is
    // read as a decimal number (leading blanks and a sign allowed, reading
    // stops at the first non-digit); 0 or out of range gives tk_exception
    // "Invalid port number" (level 1). The engine's exceptions pass through.
    void connect_mysql_server();
    bool is_mysql_base_exist(const std::wstring& name);
    // Opens the database and asks it whether the query runs; any failure
    // gives false.
    bool test_query(const std::wstring& database_name, const std::wstring& query_text);

    // "MySQL settings" of a profile; both return true.
    bool load_profile(udb_profile& profile);
    bool store_profile(udb_profile& profile);

    sql_engine& get_sql_engine() noexcept { return *m_engine; }
    dump_options& get_dump_options() noexcept { return m_dump_options; }

    // The port text as connect_mysql_server reads it (0 when unreadable).
    static int parse_port(const std::string& text) noexcept;

    std::string mysql_host;
    std::string mysql_user;
    std::string mysql_password;
    std::string mysql_port = "3306";

private:
    std::unique_ptr<sql_engine> m_engine;
    dump_options m_dump_options;
};
