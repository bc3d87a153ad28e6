#include "pg_target/pgs_exception.h"

#include <pqxx/except>

#include "TK/tk_log.h"
#include "UDB/udb_failure.h"

pgs_exception::pgs_exception(const std::string& message) : tk_exception(message.c_str(), 0)
{
    tk_write_log(2, "pgs_exception(%s)", what());
}

pgs_exception::pgs_exception(const char* message) : pgs_exception(std::string(message ? message : ""))
{
}

pgs_exception::pgs_exception(const std::string& message, std::string sqlstate, std::string statement)
    : pgs_exception(message)
{
    m_sqlstate = std::move(sqlstate);
    m_statement = std::move(statement);
}

pgs_exception pgs_exception::from_current(const std::string& prefix)
{
    try {
        throw;
    } catch (const pqxx::sql_error& x) {
        return pgs_exception(prefix + x.what(), x.sqlstate(), x.query());
    } catch (const pqxx::pqxx_exception& x) {
        return pgs_exception(prefix + x.base().what());
    } catch (const pgs_exception& x) {
        if (prefix.empty()) return x;
        pgs_exception out(prefix + x.what(), x.sqlstate(), x.statement());
        out.set_level(x.get_level());
        return out;
    }
}

udb_failure pgs_failure_of(udb_failure_kind kind, std::wstring table, std::wstring object, const pgs_exception& e)
{
    udb_failure f = udb_failure_of(kind, std::move(table), std::move(object), e);
    f.sqlstate = e.sqlstate();
    f.statement = e.statement();
    return f;
}

namespace {
std::string describe(const std::vector<pgs_rejected_row>& rows)
{
    std::string text;
    for (const auto& r : rows) {
        if (!text.empty()) text += '\n';
        text += "Record #" + std::to_string(r.record_number) + " rejected: " + r.message;
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    }
    return text;
}
}  // namespace

pgs_rows_rejected_exception::pgs_rows_rejected_exception(std::vector<pgs_rejected_row> rows)
    : pgs_exception(describe(rows)), m_rows(std::move(rows))
{
}

std::string pgs_failure_text(const std::exception_ptr& e)
{
    try {
        std::rethrow_exception(e);
    } catch (const pqxx::pqxx_exception& x) {
        return x.base().what();
    } catch (const pgs_exception& x) {
        return x.what();
    }
}
