#include "SQL/sql_sync.h"

#include "SQL/sql_database.h"
#include "SQL/sql_literals.h"
#include "SQL/sql_quote.h"
#include "TK/tk_log.h"
#include "UDB/udb_record_key.h"
#include "UDB/udb_schema.h"
#include "platform/pf_text.h"

namespace {

bool is_bare_kind(VARTYPE vt) noexcept
{
    switch (vt) {
    case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY: case VT_BOOL: case VT_DECIMAL: case VT_I1:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_BLOB: case VT_BLOB_OBJECT:
    case VT_BYTE_ARRAY:
        return true;
    default:
        return false;
    }
}

}  // namespace

sql_sync::sql_sync(sql_database& database_) : database(&database_)
{
    tk_write_log(2, "sql_sync::ctor");
}

std::wstring sql_sync::get_filter_subquery(const std::wstring& table, const std::wstring& key)
{
    tk_write_wlog(1, L"sql_sync::get_filter_subquery(%s,%s)", table.c_str(), key.c_str());
    auto opened = database->get_table(table, 1);
    return get_filter_subquery(opened->get_schema(), key);
}

std::wstring sql_sync::get_filter_subquery(const udb_schema& columns, const std::wstring& key)
{
    return udb_key_condition(columns, key, &sql_sync::condition_term);
}

std::wstring sql_sync::condition_term(const t_ftd& column, const std::wstring& value)
{
    // Numbers of numeric columns and hexadecimal or decimal texts of binary columns go bare;
    // anything else, and any value that is not such a text, as an escaped literal of the
    // whole value.
    const VARTYPE kind = is_bare_kind(column.vartype) ? column.vartype : VT_BSTR;
    const std::string literal = to_mysql_str(pf_wide_to_utf8(value), kind);
    std::wstring term = sql_quote_wname(column.name);
    term += L'=';
    term += pf_utf8_to_wide(literal);
    if (!literal.empty() && literal.front() == '\'') {
        term += L' ';
    } else {
        tk_write_log(1, "No quotes for numeric or binary");
    }
    return term;
}
