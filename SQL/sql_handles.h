#pragma once
// Owners of the client library's handles. A result opened with mysql_use_result occupies the
// connection until it is freed, so every result and statement is held by one of these and
// released on every path, errors included.
#include <memory>
#include <mysql.h>

struct sql_result_deleter {
    void operator()(MYSQL_RES* r) const noexcept;
};
struct sql_stmt_deleter {
    void operator()(MYSQL_STMT* s) const noexcept;
};

using sql_result_ptr = std::unique_ptr<MYSQL_RES, sql_result_deleter>;
using sql_stmt_ptr = std::unique_ptr<MYSQL_STMT, sql_stmt_deleter>;

// Owns one MYSQL connection object (allocated by mysql_init, closed by mysql_close).
// Copying is deleted; moving hands the connection over.
class sql_connection {
public:
    sql_connection() = default;
    explicit sql_connection(MYSQL* m) noexcept : handle_(m) {}
    sql_connection(const sql_connection&) = delete;
    sql_connection& operator=(const sql_connection&) = delete;
    sql_connection(sql_connection&& o) noexcept : handle_(o.handle_) { o.handle_ = nullptr; }
    sql_connection& operator=(sql_connection&& o) noexcept;
    ~sql_connection() { close(); }

    MYSQL* get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != nullptr; }
    void close() noexcept;

private:
    MYSQL* handle_ = nullptr;
};
