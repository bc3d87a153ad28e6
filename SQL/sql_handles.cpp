#include "SQL/sql_handles.h"

void sql_result_deleter::operator()(MYSQL_RES* r) const noexcept
{
    // For a streamed result the client library reads the rest of the rows before it frees;
    // that keeps the connection in step for the next statement.
    if (r) mysql_free_result(r);
}

void sql_stmt_deleter::operator()(MYSQL_STMT* s) const noexcept
{
    if (s) mysql_stmt_close(s);
}

sql_connection& sql_connection::operator=(sql_connection&& o) noexcept
{
    if (this != &o) {
        close();
        handle_ = o.handle_;
        o.handle_ = nullptr;
    }
    return *this;
}

void sql_connection::close() noexcept
{
    if (handle_) {
        mysql_close(handle_);
        handle_ = nullptr;
    }
}
