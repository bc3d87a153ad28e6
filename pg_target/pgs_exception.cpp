#include "pg_target/pgs_exception.h"

#include <pqxx/except>

#include "TK/tk_log.h"

pgs_exception::pgs_exception(const std::string& message) : tk_exception(message.c_str(), 0)
{
    tk_write_log(2, "pgs_exception(%s)", what());
}

pgs_exception::pgs_exception(const char* message) : pgs_exception(std::string(message ? message : ""))
{
}

pgs_exception::pgs_exception(const std::string& message, std::string sqlstate)
    : pgs_exception(message)
{
    m_sqlstate = std::move(sqlstate);
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
