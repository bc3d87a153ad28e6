#include "SQL/sql_schema.h"

#include "TK/tk_exception.h"
#include "TK/tk_log.h"

sql_schema::sql_schema()
{
    tk_write_log(2, "sql_schema::ctor");
}

sql_schema::~sql_schema() = default;

void sql_schema::push_back(column_ptr column)
{
    if (!column) throw tk_mail_assertion("sql_sch", 24);
    tk_write_wlog(2, L"sql_schema::push_back(%s, size=%d)", column->name.c_str(), static_cast<int>(column->size));
    const std::uint32_t position = static_cast<std::uint32_t>(size());
    if (column->vartype == VT_BSTR && column->size >= 1 && column->size <= 21844) {
        tk_write_log(2, "Special processing for string values");
        std::size_t at = 0;
        while (at < lobs.size() && (*this)[lobs[at]].size > column->size) ++at;
        tk_write_log(2, "Insert new column into 'lobs' at pos=%d", static_cast<int>(at));
        lobs.insert(lobs.begin() + static_cast<std::ptrdiff_t>(at), position);
        total_size += 4 * column->size;
    } else if (column->size < 5592405) {
        total_size += column->size;
    }
    udb_schema::push_back(std::move(column));
    if (total_size > max_row_size) {
        tk_write_log(2, "Schema total size %d exceeds %d bytes, transforming schema...", static_cast<int>(total_size),
                     static_cast<int>(max_row_size));
        while (!lobs.empty() && total_size > max_row_size) {
            t_ftd& longest = (*this)[lobs.front()];
            tk_write_wlog(3, L"Column '%s' converted into LONG TEXT", longest.name.c_str());
            const std::uint32_t bytes = 4 * longest.size;
            tk_write_log(2, "Decreasing total size at %d bytes", static_cast<int>(bytes));
            total_size = total_size > bytes ? total_size - bytes : 0;
            tk_write_log(2, "New total_size = %d", static_cast<int>(total_size));
            longest.size = 0;
            lobs.erase(lobs.begin());
        }
    }
}
