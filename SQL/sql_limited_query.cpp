#include "SQL/sql_limited_query.h"

#include "SQL/sql_database.h"
#include "SQL/sql_engine.h"
#include "SQL/sql_exception.h"
#include "SQL/sql_quote.h"
#include "TK/tk_log.h"
#include "TK/tk_strings.h"

sql_limited_query::sql_limited_query(sql_database& database, const std::wstring& source, bool is_query,
                                     unsigned long long row_limit, const std::string& select_list)
    : connection(database.get_connection())
{
    tk_write_wlog(1, L"sql_limited_query::sql_limited_query(%s)", source.c_str());
    std::string utf8 = is_query ? subquery_text(source) : tk_unicode_to_utf8(source);
    statement_text = "SELECT ";
    statement_text += select_list.empty() || is_query ? std::string("*") : select_list;
    statement_text += " FROM ";
    if (is_query) {
        tk_write_log(1, "...as query");
        // Line breaks around the text: a trailing "-- comment" must not swallow the parenthesis.
        statement_text += "(\n" + utf8 + "\n) as temp___table";
    } else {
        tk_write_log(1, "...as table");
        if (sql_engine::instance()->is_old_version()) statement_text += utf8;
        else sql_append_quoted_name(statement_text, utf8);
    }
    if (row_limit) statement_text += " LIMIT " + std::to_string(row_limit);
    tk_write_log(1, "sql_database::do_query2(%s)", statement_text.c_str());
    if (mysql_real_query(connection, statement_text.data(), static_cast<unsigned long>(statement_text.size())) != 0)
        throw sql_exception(connection, statement_text);
    result.reset(mysql_use_result(connection));
    if (!result) {
        if (mysql_errno(connection) != 0) throw sql_exception(connection, statement_text);
        throw sql_exception(0u, "The statement returned no result set", statement_text);
    }
    n_fields = mysql_num_fields(result.get());
    field_list = mysql_fetch_fields(result.get());
    tk_write_log(1, "sql_limited_query - at the end");
}

std::string sql_limited_query::subquery_text(const std::wstring& text)
{
    std::string s = tk_unicode_to_utf8(text);
    while (!s.empty() && (s.back() == ';' || s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.pop_back();
    return s;
}

sql_limited_query::~sql_limited_query()
{
    tk_write_log(2, "sql_limited_query::~sql_limited_query");
}

std::size_t sql_limited_query::store_to(window& records, const udb_schema* schema)
{
    tk_write_log(1, "sql_limited_query::store_to(n_max_records=%d)", static_cast<int>(n_max_records));
    if (!result) throw tk_mail_assertion("sql_limq", 66);
    if (end_reached) return 0;
    if (!plans_made) {
        plans = sql_make_plans(n_fields, field_list, schema, sql_engine::instance()->is_blob_to_text());
        for (const auto& [column, path] : path_overrides)
            if (column < plans.size()) plans[column].path = path;
        plans_made = true;
    }
    std::size_t n = 0;
    std::size_t bytes = 0;
    // A window ends at n_max_records rows or once its records take max_window_bytes, whichever
    // comes first: large values and wide rows are not held a window at a time.
    while (n < n_max_records && bytes < max_window_bytes) {
        MYSQL_ROW row = mysql_fetch_row(result.get());
        if (!row) {
            // A dropped connection also ends the fetch; it must fail the table, never pass
            // for its last row.
            if (mysql_errno(connection) != 0) throw sql_exception(connection, statement_text);
            end_reached = true;
            break;
        }
        const unsigned long* lengths = mysql_fetch_lengths(result.get());
        // A record costs its values and, per field, the field itself and its name: a table of a
        // thousand columns is held by bytes as well.
        bytes += n_fields * (sizeof(sql_field) + 32);
        for (unsigned i = 0; i < n_fields; ++i) bytes += lengths[i];
        if (!records[n]) records[n] = std::make_unique<sql_record>();
        // A value error fails its own row when the row is handed out (the first window is
        // read while the table is opened, before any row is asked for).
        records[n]->fill_keeping_failure(plans, lengths, row);
        ++n;
    }
    return n;
}
