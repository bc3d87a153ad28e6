#pragma once
// One streamed SELECT over a table or an SQL text: the result is read row by row
// (mysql_use_result) into the record window of a recordset, never held whole.
#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "SQL/sql_handles.h"
#include "SQL/sql_record.h"

class sql_database;
class udb_schema;

class sql_limited_query {
public:
    static constexpr std::size_t n_max_records = 256;
    // The bytes of records (values and fields) after which a window takes no further row (it
    // always takes one).
    static constexpr std::size_t max_window_bytes = 2 * 1024 * 1024;
    using window = std::array<std::unique_ptr<sql_record>, n_max_records>;

    // Sends "SELECT * FROM `table`" or "SELECT * FROM (text) as temp___table", with
    // " LIMIT n" when row_limit is not 0; sql_exception when the server rejects it. A table may
    // be read by its own select list (UTF-8, what follows SELECT) in place of "*".
    sql_limited_query(sql_database& database, const std::wstring& source, bool is_query,
                      unsigned long long row_limit = 0, const std::string& select_list = std::string());
    ~sql_limited_query();
    sql_limited_query(const sql_limited_query&) = delete;
    sql_limited_query& operator=(const sql_limited_query&) = delete;

    // Fills the window's first slots with the next rows (records are reused) and answers how
    // many: up to n_max_records rows, fewer when their records reach max_window_bytes. With a
    // schema that has columns each value takes its column's kind, otherwise the kind the
    // result's description gives. A broken stream throws sql_exception.
    std::size_t store_to(window& records, const udb_schema* schema);
    // Columns whose values take another path than their kind gives (set before the first
    // store_to): the select list reads them in a form of its own.
    void set_path_overrides(std::vector<std::pair<unsigned, sql_value_path>> overrides)
    {
        path_overrides = std::move(overrides);
    }

    // A user's query text as it can stand inside "(...)": trailing blanks, line ends and
    // semicolons removed (a query typed as "SELECT ...;" is common).
    static std::string subquery_text(const std::wstring& text);

    unsigned field_count() const noexcept { return n_fields; }
    const MYSQL_FIELD* fields() const noexcept { return field_list; }
    bool at_end() const noexcept { return end_reached; }
    const std::string& statement() const noexcept { return statement_text; }

private:
    MYSQL* connection;
    sql_result_ptr result;
    unsigned n_fields = 0;
    MYSQL_FIELD* field_list = nullptr;
    std::vector<sql_column_plan> plans;
    std::vector<std::pair<unsigned, sql_value_path>> path_overrides;
    bool plans_made = false;
    bool end_reached = false;
    std::string statement_text;
};
