#include "SQL/sql_exception.h"

#include <errmsg.h>
#include <mysql.h>
#include <mysqld_error.h>

#include "SQL/sql_engine.h"
#include "TK/tk_log.h"

namespace {
int compose_code(unsigned number) { return sql_error_code_base + static_cast<int>(number & 0xFFFF); }
}  // namespace

sql_exception::sql_exception() : sql_exception(sql_engine::instance()->connection()) {}

sql_exception::sql_exception(st_mysql* connection, std::string statement)
    : tk_exception(connection ? mysql_error(connection) : "", 0), m_statement(std::move(statement))
{
    set_error_code(compose_code(connection ? mysql_errno(connection) : 0));
    trace();
}

sql_exception::sql_exception(unsigned error_number, const std::string& message, std::string statement)
    : tk_exception(message, 0), m_statement(std::move(statement))
{
    set_error_code(compose_code(error_number));
    trace();
}

unsigned sql_exception::mysql_errno_value() const noexcept
{
    return static_cast<unsigned>(error_code() - sql_error_code_base);
}

bool sql_exception::is_connection_lost() const noexcept
{
    switch (mysql_errno_value()) {
    case CR_SERVER_GONE_ERROR:
    case CR_SERVER_LOST:
    case CR_SERVER_LOST_EXTENDED:
    case CR_CONN_HOST_ERROR:
    case CR_CONNECTION_ERROR:
    case ER_SERVER_SHUTDOWN:
    case ER_CONNECTION_KILLED:
    case ER_NET_READ_ERROR:
    case ER_NET_READ_INTERRUPTED:
    case ER_NET_ERROR_ON_WRITE:
    case ER_NET_WRITE_INTERRUPTED:
        return true;
    default:
        return false;
    }
}

void sql_exception::trace() const
{
    tk_write_log(2, "sql_exception::sql_exception( msg=%s)", what());
    tk_write_log(2, "Got MySQL error code=%d", error_code());
    if (!m_statement.empty()) tk_write_log(2, "QUERY=%s", m_statement.c_str());
}

sql_auth_not_supported_exception::sql_auth_not_supported_exception()
    : tk_exception("The program does not support authentication protocol requested by server. "
                   "See 'Troubleshooting' article of the product documentation.",
                   1)
{
}

sql_prep_stmt_failed_exception::sql_prep_stmt_failed_exception()
    : tk_exception("Failed to execute prepared statement", 1)
{
    set_error_code(0x400BB9);
}
