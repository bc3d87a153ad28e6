#include "SQL/sql_tmp_recordset.h"

#include "SQL/sql_engine.h"
#include "SQL/sql_exception.h"
#include "TK/tk_log.h"

namespace {

sql_result_ptr open_result(MYSQL* connection, const std::string& statement)
{
    if (mysql_real_query(connection, statement.data(), static_cast<unsigned long>(statement.size())) != 0)
        throw sql_exception(connection, statement);
    sql_result_ptr r(mysql_use_result(connection));
    if (!r) {
        if (mysql_errno(connection) != 0) throw sql_exception(connection, statement);
        throw sql_exception(0u, "The statement returned no result set", statement);
    }
    return r;
}

}  // namespace

sql_tmp_recordset::sql_tmp_recordset(MYSQL* connection_, const std::string& statement)
    : udb_recordset(std::wstring()), connection(connection_), result(open_result(connection_, statement))
{
    tk_write_log(1, "sql_tmp_recordset::ctor2(%s)", statement.c_str());
    n_fields = mysql_num_fields(result.get());
    fields = mysql_fetch_fields(result.get());
    tk_write_log(1, "n_fields=%d", static_cast<int>(n_fields));
}

sql_tmp_recordset::sql_tmp_recordset(MYSQL* connection_, sql_result_ptr result_)
    : udb_recordset(std::wstring()), connection(connection_), result(std::move(result_))
{
    tk_write_log(1, "sql_tmp_recordset::ctor1");
    if (result) {
        n_fields = mysql_num_fields(result.get());
        fields = mysql_fetch_fields(result.get());
    }
    tk_write_log(1, "n_fields=%d", static_cast<int>(n_fields));
    initialize();
}

sql_tmp_recordset::~sql_tmp_recordset()
{
    tk_write_log(1, "sql_tmp_recordset::dtor");
    clean_cache();
}

void sql_tmp_recordset::initialize()
{
    tk_write_log(1, "sql_tmp_recordset::initialize");
    if (!result) throw tk_mail_assertion("sql_recs", 409);
    fill_cache();
    tk_write_log(1, "sql_tmp_recordset::initialize - END");
}

void sql_tmp_recordset::fill_cache()
{
    tk_write_log(1, "sql_tmp_recordset::fill_cache");
    records_used = 0;
    if (!result || at_end) return;
    if (!plans_made) {
        // Made at the first fill: list recordsets change the column flags before it.
        plans = sql_make_plans(n_fields, fields, nullptr, sql_engine::instance()->is_blob_to_text());
        plans_made = true;
    }
    while (records_used < cache_size) {
        MYSQL_ROW row = mysql_fetch_row(result.get());
        if (!row) {
            // The end of the rows and a broken stream look alike here: only the error number
            // tells them apart, and a broken stream must not pass for a short result.
            if (mysql_errno(connection) != 0) throw sql_exception(connection);
            at_end = true;
            break;
        }
        const unsigned long* lengths = mysql_fetch_lengths(result.get());
        if (records_used == records.size()) records.push_back(std::make_unique<sql_record>());
        records[records_used]->fill(plans, lengths, row);
        ++records_used;
    }
    tk_write_log(1, "records.size()=%d", static_cast<int>(records_used));
    tk_write_log(1, "sql_tmp_recordset::fill_cache - END");
}

void sql_tmp_recordset::clean_cache() noexcept
{
    records_used = 0;
}

void sql_tmp_recordset::append_record(udb_record&)
{
    throw tk_mail_assertion("sql_recs", 402);
}

udb_record* sql_tmp_recordset::get_item()
{
    return pos < records_used ? records[pos].get() : nullptr;
}

bool sql_tmp_recordset::is_eof()
{
    if (pos < records_used) return false;
    clean_cache();
    fill_cache();
    pos = 0;
    tk_write_log(1, "New records.size=%d", static_cast<int>(records_used));
    return records_used == 0;
}

void sql_tmp_recordset::next()
{
    ++pos;
}

void sql_tmp_recordset::reset()
{
    pos = 0;
}

sql_list_databases_rs::sql_list_databases_rs(MYSQL* connection_)
    : sql_tmp_recordset(connection_, std::string("SHOW DATABASES"))
{
    tk_write_log(2, "sql_list_databases_rs::ctor");
    if (n_fields == 1) {
        fields[0].flags = 0;
        fields[0].charsetnr = 33;  // text, whatever collation the catalogue uses
        initialize();
    } else {
        tk_write_log(2, "Failed to create sql_list_databases_rs");
    }
}

sql_list_tables_rs::sql_list_tables_rs(MYSQL* connection_)
    : sql_tmp_recordset(connection_, std::string("show full tables where Table_type='BASE TABLE'"))
{
    tk_write_log(2, "sql_list_tables_rs::ctor");
    if (n_fields == 2) {
        fields[0].flags = 0;
        fields[0].charsetnr = 33;
        initialize();
    } else {
        tk_write_log(2, "Failed to create sql_list_tables_rs");
    }
}
