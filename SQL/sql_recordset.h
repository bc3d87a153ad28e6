#pragma once
// A table or named SQL query of a MySQL database read forwards: the columns come from the
// server's description of a streamed SELECT, the row count from SELECT COUNT(*) (for progress),
// and the rows through a window of up to 256 records (fewer when their values are large) refilled
// from the unbuffered result. The end of the rows is the end of the stream; a broken stream is an
// error, never an early end.
//
// Use: reset() once, then while (!is_eof()) { get_item(); next(); }. A record from get_item()
// belongs to the recordset and stays valid until the window moves.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "SQL/sql_types.h"
#include "UDB/udb_recordset.h"

class sql_database;
class sql_limited_query;
class sql_record;

class sql_recordset : public udb_recordset {
public:
    static constexpr std::size_t window_size = 256;

    // Over a table.
    sql_recordset(sql_database* database, const std::wstring& name, std::vector<udb_relationship>& relationships);
    // Over an SQL text.
    sql_recordset(sql_database* database, const std::wstring& name, const std::wstring& text,
                  std::vector<udb_relationship>& relationships);
    ~sql_recordset() override;

    void append_record(udb_record& record) override;  // an internal error: read only
    udb_record* get_item() override;
    bool is_eof() override;
    void next() override;
    void prev() override;
    void reset() override;

    // SELECT COUNT(*) of the table or query; -1 when the count cannot be read as a number.
    std::int64_t get_rec_count();
    // Releases the records of the window.
    void clean() noexcept;

    std::int64_t get_row_count() const noexcept { return rec_count; }
    // The last value the auto-increment column handed out (also the schema's seed): the
    // table's counter less one, or the column's maximum where the counter cannot be read; 1
    // when there is none.
    std::int64_t get_auto_increment_seed() const noexcept { return auto_increment_seed; }
    // The select list the table is read with ("SELECT `a`, (`f`+0e0) as `f` ... FROM `t`").
    const std::wstring& get_local_select() const noexcept { return local_select_qry; }

protected:
    void initialize();
    // The table's AUTO_INCREMENT counter (the next value the server hands out); false when the
    // server does not show one.
    bool read_auto_increment_counter(std::uint64_t& counter);
    // Reads a text column of the given character set so that a value the server cannot send
    // as UTF-8 fails its row instead of arriving with '?' (tables only; from the next reset()).
    void read_column_checked(std::size_t column, std::string_view charset);
    void make_read_list();
    // The table's columns as a select list when some are INVISIBLE ("*" would leave them out);
    // empty when "*" reads them all.
    std::string list_with_invisible_columns();
    sql_database& db() const noexcept { return *sql_db; }
    const udb_schema* window_schema() const noexcept { return is_query() ? nullptr : &schema; }

    std::int64_t rec_count = 0;
    sql_database* sql_db;
    std::unique_ptr<sql_limited_query> limited_query;
    std::vector<udb_relationship>* relationships;
    std::uint64_t pos = 0;
    std::uint32_t window_pos = 0;
    std::array<std::unique_ptr<sql_record>, window_size> records;
    std::size_t window_count = 0;  // records of the current window
    std::wstring local_select_qry;
    // The select list a table is read by when "*" would lose something (FLOAT digits, bytes of
    // a checked text column); empty: "*".
    std::string read_list;
    std::vector<std::string> read_items;  // the select item of each column
    std::vector<std::pair<unsigned, sql_value_path>> path_overrides;  // columns read another way
    std::int64_t auto_increment_seed = 1;
};
