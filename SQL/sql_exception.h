#pragma once
// Errors of the MySQL side. sql_exception carries the client library's error text as its
// message and 0x400000 + the MySQL error number (client or server, low 16 bits) as its code,
// the key of the error handler's table of MySQL error texts; level 0 (the item fails, the run
// may go on). The statement that failed is kept beside the message for the log.
#include <string>

#include "TK/tk_exception.h"

struct st_mysql;

constexpr int sql_error_code_base = 0x400000;

class sql_exception : public tk_exception {
public:
    // The error of the connection held by the engine singleton (an internal error when
    // there is no engine).
    sql_exception();
    // The error of this connection; `statement` is the text that failed, when there is one.
    explicit sql_exception(st_mysql* connection, std::string statement = {});
    // An error met by this side itself (a value the row cannot carry, a name not listed):
    // the given number (0 when none) and message.
    sql_exception(unsigned error_number, const std::string& message, std::string statement = {});

    // The MySQL error number (code without the base).
    unsigned mysql_errno_value() const noexcept;
    // Whether the error says the connection to the server is gone (the server went away,
    // the connection was lost or killed, the server is shutting down): nothing more can be
    // read on it.
    bool is_connection_lost() const noexcept;
    const std::string& statement() const noexcept { return m_statement; }

private:
    void trace() const;
    std::string m_statement;
};

// The server asks for an authentication protocol that the client cannot use (level 1).
class sql_auth_not_supported_exception : public tk_exception {
public:
    sql_auth_not_supported_exception();
};

// A prepared statement could not be run (code 0x400BB9, level 1).
class sql_prep_stmt_failed_exception : public tk_exception {
public:
    sql_prep_stmt_failed_exception();
};
